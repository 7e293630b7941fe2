#include "link/usb_transport.h"

#include <cstring>

#include "link/card_session.h"
#include "link/link_counters.h"
#include "link/packets.h"
#include "link/reply_check.h"

namespace torvexan {

namespace {

constexpr uint16_t kStart = 0;
constexpr int kInterface = 0;  // the one the session releases on close
constexpr int kConfiguration = 1;
constexpr int32_t kExchangeAttempts = 10;
// Event handling that keeps failing must not hold the tick: after this many errors in a row
// the handshake waits for the next tick.
constexpr int kEventErrorRetries = 10;
constexpr int kReadFailed = -100;  // below every parser result
// A cancelled transfer ends within event handling; the wait for it is bounded all the same.
constexpr int kCancelPolls = 50;
constexpr long kCancelPollMicroseconds = 1000;

static_assert(sizeof(TransportState::connectBuffer) == kUsbPacketLength);
static_assert(kUsbPacketLength <= kPacketBufferSize);

// Runs inside event handling, on the tick's thread.
void LIBUSB_CALL OnTransferDone(libusb_transfer* transfer) {
  auto* t = static_cast<TransportState*>(transfer->user_data);
  t->TransferDone = true;
  t->TransferOk = transfer->status == LIBUSB_TRANSFER_COMPLETED;
}

// Polls libusb's events without waiting; true once the current transfer has completed.
bool TransferFinished(CardSession& c, TransportState& t) {
  int errors = 0;
  while (!t.TransferDone) {
    timeval zero{0, 0};
    if (c.usb->handle_events_timeout(nullptr, &zero) < 0) {
      if (++errors < kEventErrorRetries) continue;
      return false;
    }
    if (!t.TransferDone) return false;
  }
  return true;
}

void FreeConnectTransfer(CardSession& c, TransportState& t) {
  if (t.ConnectTransfer == nullptr) return;
  c.usb->free_transfer(t.ConnectTransfer);
  t.ConnectTransfer = nullptr;
}

int FailHandshake(PluginState& s) {
  CardSession& c = *s.session;
  FreeConnectTransfer(c, s.link.transport);
  if (!c.online) CloseUsbHandle(c);
  s.link.TransportStep = kStart;
  return kStepWaiting;
}

bool SubmitConnectTransfer(CardSession& c, TransportState& t, unsigned char endpoint,
                           uint8_t* buffer) {
  libusb_fill_bulk_transfer(t.ConnectTransfer, c.usbHandle, endpoint, buffer, kUsbPacketLength,
                            &OnTransferDone, &t, kUsbTimeoutMs);
  t.TransferDone = false;
  t.TransferOk = false;
  return c.usb->submit_transfer(t.ConnectTransfer) == 0;
}

// Reads one of the device's strings into the connect buffer and its first bytes into text,
// always NUL-terminated; returns the library's result.
int ReadDeviceString(CardSession& c, TransportState& t, uint8_t index, char (&text)[32]) {
  std::memset(t.connectBuffer, 0, sizeof t.connectBuffer);
  const int r =
      c.usb->get_string_descriptor_ascii(c.usbHandle, index, t.connectBuffer, kUsbPacketLength);
  std::memcpy(text, t.connectBuffer, sizeof text);
  text[sizeof text - 1] = '\0';
  return r;
}

// Opens the device, learns its name and serial number and sends the connect request.
int BeginHandshake(PluginState& s) {
  CardSession& c = *s.session;
  TransportState& t = s.link.transport;
  CloseUsbHandle(c);
  ++c.counters.usbConnects;
  if (!UsbOpen(c)) return FailHandshake(s);
  libusb_device_descriptor descriptor{};
  if (c.usb->get_device_descriptor(c.usb->get_device(c.usbHandle), &descriptor) != 0) {
    return FailHandshake(s);
  }
  if (ReadDeviceString(c, t, descriptor.iProduct, c.deviceName) <= 0) return FailHandshake(s);
  // The serial number stays in the buffer: the connect request carries it from byte 3 on.
  ReadDeviceString(c, t, descriptor.iSerialNumber, c.serialText);
  t.ConnectTransfer = c.usb->alloc_transfer(0);
  if (t.ConnectTransfer == nullptr) return FailHandshake(s);
  // A packet left pending by a lost link takes the next sequence the card expects.
  if (c.txLength != 0) c.usbSequence = static_cast<uint8_t>(c.txSequence - 1);
  BuildUsbConnectRequest(t.connectBuffer, c.usbSequence);
  ChainEncode(t.connectBuffer, kUsbPacketLength);
  if (!SubmitConnectTransfer(c, t, kEndpointToCard, t.connectBuffer)) return FailHandshake(s);
  s.link.TransportStep = kUsbAwaitingRequest;
  return kStepYielded;
}

// A transfer left in flight by an abandoned handshake is finished before its buffers are
// reused; false while it is still outstanding.
bool SettleStrayTransfer(CardSession& c, TransportState& t) {
  if (t.ConnectTransfer == nullptr) return true;
  if (!TransferFinished(c, t)) return false;
  FreeConnectTransfer(c, t);
  return true;
}

// Reads one reply into the cleared reply buffer and parses it; a reply out of bounds for the
// card's clock is held back as if it had not come.
int ReadReply(PluginState& s) {
  CardSession& c = *s.session;
  std::memset(c.rxBuffer, 0, kUsbPacketLength);
  int transferred = 0;
  if (c.usb->bulk_transfer(c.usbHandle, kEndpointFromCard, c.rxBuffer, kUsbPacketLength,
                           &transferred, kUsbTimeoutMs) != 0) {
    return kReadFailed;
  }
  ChainDecode(c.rxBuffer, kUsbPacketLength);
  const ReplyFields before = SaveReplyFields(c);
  const int result = ParseUsbReply(c, c.rxBuffer);
  if (result == kReplyAccepted &&
      !TakeReply(s.link.transport, c, s.platform.clock->TickCountMs(),
                 s.motion.MotionMode == kHandwheelJog, ReplyIsStatus(c))) {
    RestoreReplyFields(c, before);
    return kReadFailed;
  }
  CountReply(c.counters, result);
  return result;
}

// One write and its reply; a stale reply to an earlier packet gets one more read.
bool ExchangeAttempt(PluginState& s) {
  CardSession& c = *s.session;
  int transferred = 0;
  if (c.usb->bulk_transfer(c.usbHandle, kEndpointToCard, c.txPacket, kUsbPacketLength, &transferred,
                           kUsbTimeoutMs) != 0) {
    return false;
  }
  NotePacketSent(s.link.transport, s.platform.clock->TickCountMs());
  const int r = ReadReply(s);
  if (r == kReplyForeignSequence) return ReadReply(s) == kReplyAccepted;
  return r == kReplyAccepted;
}

}  // namespace

bool UsbOpen(CardSession& c) {
  CloseUsbHandle(c);
  if (c.usb == nullptr) return false;
  ++c.counters.usbOpens;
  c.usbHandle = c.usb->open_device_with_vid_pid(nullptr, kCardVendorId, kCardProductId);
  if (c.usbHandle == nullptr) return false;
  // Errors here surface as failing transfers.
  c.usb->claim_interface(c.usbHandle, kInterface);
  c.usb->set_configuration(c.usbHandle, kConfiguration);
  return true;
}

int UsbConnectStep(PluginState& s) {
  CardSession& c = *s.session;
  TransportState& t = s.link.transport;
  if (c.usb == nullptr) return FailHandshake(s);
  switch (s.link.TransportStep) {
    case kStart:
      if (!SettleStrayTransfer(c, t)) return kStepYielded;
      if (BeginHandshake(s) != kStepYielded) return kStepWaiting;
      [[fallthrough]];
    case kUsbAwaitingRequest:
      if (!TransferFinished(c, t)) return kStepYielded;
      if (!t.TransferOk) return FailHandshake(s);
      std::memset(c.rxBuffer, 0, kUsbPacketLength);
      if (!SubmitConnectTransfer(c, t, kEndpointFromCard, c.rxBuffer)) return FailHandshake(s);
      s.link.TransportStep = kUsbAwaitingReply;
      [[fallthrough]];
    case kUsbAwaitingReply:
      if (!TransferFinished(c, t)) return kStepYielded;
      if (t.TransferOk) {
        ChainDecode(c.rxBuffer, kUsbPacketLength);
        if (ParseUsbConnectReply(c, c.rxBuffer)) {
          ++c.usbSequence;
          c.online = 1;
          // A card that comes back halted (restarted, plugged in again) gets nothing switched
          // on, not even by the packet left pending, unless the host is configuring it.
          if (CardHalted(c) && !(s.requests.RequestFlags & kRequestConfigure)) {
            HoldOutputsOff(c);
          }
        }
      }
      FreeConnectTransfer(c, t);
      if (!c.online) return FailHandshake(s);
      s.link.TransportStep = kStart;
      return kStepEnded;
    default:
      s.link.TransportStep = kStart;
      return kStepWaiting;
  }
}

void UsbCancelHandshake(PluginState& s) {
  CardSession& c = *s.session;
  TransportState& t = s.link.transport;
  s.link.TransportStep = kStart;
  if (t.ConnectTransfer == nullptr || c.usb == nullptr) return;
  if (!t.TransferDone) {
    // Cancelled or just completed, it ends in event handling, where its callback runs.
    c.usb->cancel_transfer(t.ConnectTransfer);
    for (int polls = 0; !t.TransferDone && polls < kCancelPolls; ++polls) {
      timeval wait{0, kCancelPollMicroseconds};
      c.usb->handle_events_timeout(nullptr, &wait);
    }
  }
  // A transfer still in flight must not be freed under libusb: it is given up instead.
  if (t.TransferDone) FreeConnectTransfer(c, t);
  t.ConnectTransfer = nullptr;
}

int UsbExchangeStep(PluginState& s) {
  CardSession& c = *s.session;
  TransportState& t = s.link.transport;
  s.link.TransportStep = kStart;
  if (!c.online) return kStepExited;
  if (c.usb == nullptr || c.usbHandle == nullptr) {
    LoseLink(c);  // nothing to talk through: connect afresh
    return kStepEnded;
  }
  // A packet kept over a lost link was sent before: every write of it is a resend.
  const bool sentBefore = c.txEncoded != 0;
  if (!sentBefore) {
    ChainEncode(c.txPacket, kUsbPacketLength);
    c.txEncoded = 1;
  }
  for (t.ExchangeAttempts = 0; t.ExchangeAttempts < kExchangeAttempts; ++t.ExchangeAttempts) {
    if (sentBefore || t.ExchangeAttempts > 0) ++c.counters.resends;
    if (ExchangeAttempt(s)) {
      ++c.usbSequence;
      return kStepEnded;
    }
  }
  LoseLink(c);
  return kStepEnded;
}

}  // namespace torvexan
