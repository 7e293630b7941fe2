// The one card session: the card's identity and model, the link state, the values the card
// last reported, the values every packet header carries, the single outgoing packet and the
// reply buffer, the transport handles and the per-channel profile records. The operations on
// it live with the card link (link/card_session.h).
#pragma once

#include <cstdint>

#include "platform/net_api.h"
#include "platform/usb_library.h"
#include "state/axis_profile.h"
#include "state/card_models.h"
#include "state/link_counter_record.h"

namespace torvexan {

struct Platform;

inline constexpr int kPacketBufferSize = 1024;

struct CardSession {
  char serialText[32];
  char deviceName[32];
  int32_t axisPosition[kMaxCardAxes];
  int32_t probePosition[kMaxCardAxes];
  uint16_t outputBits;
  uint16_t inputBits;
  int32_t mpgDelta;
  uint16_t cardTime;
  uint8_t freeSlots;
  uint16_t spindleValue;  // 0..1000, per mille of full speed
  uint32_t headerFlags;
  int32_t cardState;  // 3 and 4: executing motion
  uint8_t statusBits;
  uint32_t cardCounter;  // tag of the move the card executes
  uint8_t jogStopBits;
  // The card halted without being asked (it restarted, its e-stop input): every packet carries
  // the outputs and the spindle off, and no rows, until the host resets.
  uint8_t outputsHeldOff;
  uint8_t online;
  uint8_t motionActive;
  uint16_t ethSequence;
  uint8_t usbSequence;
  uint8_t axisCount;
  uint32_t cardType;  // the model's code: its row in the card-model table
  uint8_t maxSegments;
  uint8_t minSegments;
  uint32_t mpgAxisMask[kMpgAxisSlots];
  uint32_t mpgX10Mask;
  uint32_t mpgX100Mask;
  uint32_t estopMask;
  uint32_t spareMask1;
  uint32_t spareMask2;
  uint32_t mpgAnyAxisMask;
  uint8_t rxBuffer[kPacketBufferSize];
  uint8_t txPacket[kPacketBufferSize];
  int32_t txLength;  // 1 or more: an exchange is pending
  uint16_t txSequence;
  uint8_t txEncoded;         // the pending packet is already chain-encoded for the wire
  uint8_t txCode;            // the pending packet's command
  uint8_t txRows;            // rows it hands the card
  uint16_t largestRowSteps;  // the most steps of one channel in any row handed over
  SocketHandle socket;
  Ipv4SocketAddress cardAddress;
  libusb_device_handle* usbHandle;
  AxisProfile axisJog[kMaxCardAxes];

  // The platform facilities the session was started with; USB is null when unavailable.
  NetApi* net;
  const UsbLibrary* usb;
  bool netStarted;
  bool usbStarted;

  LinkCounters counters;  // kept over resets: they describe the whole session
};

}  // namespace torvexan
