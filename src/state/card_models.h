// What the plug-in knows about each card model, one row per model with a named field per fact.
// Everything that differs between models is read from here: the link state machine (how the
// card is found, connected and exchanged with), the packet codec (family and ConfigureCmd
// layout), the signal mapping (input masks), the motion streamer (segment limits) and the
// configuration dialog (texts). A new model is a row here plus its codec.
#pragma once

#include <cstdint>

namespace torvexan {

// Model codes as cardType holds them.
enum CardType : uint32_t {
  kCardUnknown = 0,  // not yet recognised: Ethernet family packets
  kCardLorn4 = 1,    // Ethernet, 4 axes
  kCardLorn5 = 2,    // Ethernet, 5 axes
  kCardPell4 = 3,    // USB, 4 axes: layouts only, never detected
  kCardPell5 = 4,    // USB, 5 axes
};

inline constexpr int kMaxCardAxes = 5;
inline constexpr int kMpgAxisSlots = 6;

// Which packet layouts a model speaks.
enum class PacketFamily : uint8_t { kEthernet, kUsb };

// How the link state machine reaches a model: to connect, and to exchange a packet.
enum class LinkPath : uint8_t {
  kNone,      // no path: nothing is connected or exchanged
  kDetect,    // model unknown: Ethernet discovery and a USB open side by side
  kEthernet,  // UDP: discovery, then request and reply on the connected socket
  kUsb,       // bulk transfers: open and handshake, then exchanges within the call
};

// Where ConfigureCmd puts its bytes.
enum class ConfigureLayout : uint8_t {
  kHeaderOnly,         // model not yet known: the card only learns that a reset happened
  kEthNoLead,          // Lorn4: no lead or trail byte
  kEthLeadTrail,       // Lorn5: lead byte before the positions, trail byte at the end
  kUsbOutputPinFirst,  // Pell4: output pin byte before the depth
  kUsbDepthFirst,      // Pell5: depth before the output pin byte
};

struct CardModel {
  uint32_t cardType;
  const char* name;
  PacketFamily family;
  LinkPath connectBy;
  LinkPath exchangeBy;
  // Recognition sets this row's constants (Pell4 is never recognised and has none).
  bool recognisable;
  int statusReplyLength;  // an unknown Ethernet card's first reply this long is this model
  bool foundByUsbOpen;    // a USB device with the card's ids that opens is this model
  uint8_t axisCount;
  uint8_t maxSegments;  // most rows in one MotionCmd
  uint8_t minSegments;  // fewest rows (and free card slots) worth a packet without a flush
  uint32_t mpgAxisMask[kMpgAxisSlots];  // inputBits of the handwheel's axis selector X..B
  uint32_t mpgX10Mask;
  uint32_t mpgX100Mask;
  uint32_t estopMask;  // the card's emergency-stop input; 0 = none
  uint32_t spareMask1;
  uint32_t spareMask2;
  uint32_t mpgAnyAxisMask;  // any axis selected: the handwheel is active
  // ConfigureCmd: whether channels follow the axis map (else channel i carries host axis i and
  // direction polarity rides in the polarity byte), and where the bytes go.
  bool configureFollowsAxisMap;
  ConfigureLayout configureLayout;
  const char* connectedText;  // the dialog's status line while online
  const char* dialogCaption;  // the dialog's caption while online
};

// The row of a model code; a code no row lists gets a row that detects and exchanges nothing.
const CardModel& CardModelOf(uint32_t cardType);

// The model an unknown Ethernet card is by the length of its first reply, or nullptr.
const CardModel* CardModelByReplyLength(int length);

// The model a USB device with the card's ids is.
const CardModel& UsbOpenedCardModel();

}  // namespace torvexan
