#include "link/card_session.h"

#include <cstring>

#include "platform/platform.h"

namespace torvexan {

namespace {

constexpr uint16_t kWinsockVersion = 0x0101;  // 1.1
constexpr int kUsbLogLevel = 3;               // informational
constexpr int kUsbInterface = 0;

}  // namespace

void CloseUsbHandle(CardSession& s) {
  if (s.usbHandle == nullptr) return;
  if (s.usb != nullptr) {
    s.usb->release_interface(s.usbHandle, kUsbInterface);
    s.usb->close(s.usbHandle);
  }
  s.usbHandle = nullptr;
}

void LoseLink(CardSession& s) {
  if (s.online) ++s.counters.linkLosses;
  s.online = 0;
}

void ResetCardSession(CardSession& s) {
  std::memset(s.serialText, 0, sizeof s.serialText);
  std::memset(s.serialText, '0', 18);
  std::memset(s.deviceName, 0, sizeof s.deviceName);
  std::strcpy(s.deviceName, "Torvexan Controller");
  const CardModel& unknown = CardModelOf(kCardUnknown);
  s.cardType = unknown.cardType;
  s.axisCount = unknown.axisCount;
  s.maxSegments = unknown.maxSegments;
  s.minSegments = unknown.minSegments;
  s.socket = kInvalidSocket;
  s.usbHandle = nullptr;
}

void StartCardSession(CardSession& s, const Platform& platform) {
  s.txSequence = 0;
  s.txLength = 0;
  s.txEncoded = 0;
  for (AxisProfile& p : s.axisJog) InitAxisProfile(p);

  s.net = platform.net;
  uint16_t granted = 0;
  s.netStarted = s.net->Startup(kWinsockVersion, &granted) == 0;
  if (s.netStarted && granted != kWinsockVersion) {
    // Another version was granted: give it back; socket calls will then fail.
    s.net->Cleanup();
    s.netStarted = false;
  }

  s.usb = platform.usb != nullptr ? platform.usb->Load() : nullptr;
  if (s.usb != nullptr) {
    if (s.usb->init(nullptr) == 0) {
      s.usbStarted = true;
      s.usb->set_debug(nullptr, kUsbLogLevel);
    } else {
      s.usb = nullptr;  // USB unavailable: every open will fail
    }
  }
  ResetCardSession(s);
}

void StopCardSession(CardSession& s) {
  if (s.socket != kInvalidSocket) {
    s.net->Shutdown(s.socket);
    s.net->Close(s.socket);
    s.socket = kInvalidSocket;
  }
  if (s.netStarted) {
    s.net->Cleanup();
    s.netStarted = false;
  }
  CloseUsbHandle(s);
  if (s.usbStarted) {
    s.usb->exit(nullptr);
    s.usbStarted = false;
  }
}

void ApplyCardModel(CardSession& s, uint32_t cardType) {
  const CardModel& m = CardModelOf(cardType);
  if (!m.recognisable || m.cardType != cardType) return;
  s.cardType = cardType;
  s.axisCount = m.axisCount;
  s.maxSegments = m.maxSegments;
  s.minSegments = m.minSegments;
  std::memcpy(s.mpgAxisMask, m.mpgAxisMask, sizeof s.mpgAxisMask);
  s.mpgX10Mask = m.mpgX10Mask;
  s.mpgX100Mask = m.mpgX100Mask;
  s.estopMask = m.estopMask;
  s.spareMask1 = m.spareMask1;
  s.spareMask2 = m.spareMask2;
  s.mpgAnyAxisMask = m.mpgAnyAxisMask;
}

void HoldOutputsOff(CardSession& s) {
  s.outputsHeldOff = 1;
  s.spindleValue = 0;
}

bool CardHalted(const CardSession& s) {
  return s.cardState == 0;
}

bool CardExecutingRows(const CardSession& s) {
  constexpr int32_t kExecutingQueue = 3, kExecutingSequence = 4;
  return s.cardState == kExecutingQueue || s.cardState == kExecutingSequence;
}

}  // namespace torvexan
