#include "link/link_machine.h"

#include "link/card_session.h"
#include "link/eth_transport.h"
#include "link/packets.h"
#include "link/reply_check.h"
#include "link/step_result.h"
#include "link/usb_transport.h"

namespace torvexan {

namespace {

constexpr uint16_t kTransportStart = 0;
constexpr uint16_t kSpindleStepMask = 0x0007;  // outputBits 0..2 carry the spindle step
constexpr int kSpindleSteps = 7;
constexpr int kSpindleFullScale = 1000;

// After an exchange that left the link up: the packet is done; the cycle maps the reply.
void FinishExchange(PluginState& s, LinkEvent& event) {
  s.session->txLength = 0;
  event = LinkEvent::kExchanged;
}

int RunEthExchange(PluginState& s, LinkEvent& event);
int RunUsbExchange(PluginState& s, LinkEvent& event);

// The loop head: back to connecting when the link is down, idle when nothing is pending,
// otherwise the exchange of the pending packet on the model's transport.
int OnlineCheck(PluginState& s, LinkEvent& event) {
  CardSession& c = *s.session;
  if (!c.online) {
    s.link.LinkStep = kLinkStart;
    return kStepWaiting;
  }
  if (c.txLength > 0 && !PendingPacketFitsFamily(c)) {
    // Left pending from before a card of the other family was found: that card would never
    // answer it and the link would be lost over and over. The producers build afresh.
    c.txLength = 0;
    c.txEncoded = 0;
  }
  if (c.txLength <= 0) {
    s.link.LinkStep = kLinkIdle;
    return kStepYielded;
  }
  switch (CardModelOf(c.cardType).exchangeBy) {
    case LinkPath::kEthernet:
      s.link.TransportStep = kTransportStart;
      s.link.LinkStep = kLinkEthExchange;
      return RunEthExchange(s, event);
    case LinkPath::kUsb:
      s.link.TransportStep = kTransportStart;
      s.link.LinkStep = kLinkUsbExchange;
      return RunUsbExchange(s, event);
    case LinkPath::kNone:
    case LinkPath::kDetect:
      break;
  }
  // No transport reaches this model: nothing is exchanged.
  FinishExchange(s, event);
  return OnlineCheck(s, event);
}

// Where an exchange step has finished: a lost link keeps the packet for after reconnecting
// (the cycle decides whether the loss stops motion and drops it).
int AfterExchange(PluginState& s, LinkEvent& event) {
  if (!s.session->online) {
    s.link.LinkStep = kLinkStart;
    event = LinkEvent::kLost;
    return kStepWaiting;
  }
  FinishExchange(s, event);
  return OnlineCheck(s, event);
}

int RunEthExchange(PluginState& s, LinkEvent& event) {
  if (!StepFinished(EthExchangeStep(s, s.session->txLength))) return kStepWaiting;
  return AfterExchange(s, event);
}

int RunUsbExchange(PluginState& s, LinkEvent& event) {
  if (!StepFinished(UsbExchangeStep(s))) return kStepWaiting;
  return AfterExchange(s, event);
}

int RunEthConnect(PluginState& s, LinkEvent& event) {
  if (!StepFinished(EthDiscoveryStep(s))) return kStepWaiting;
  return OnlineCheck(s, event);
}

int RunUsbConnect(PluginState& s, LinkEvent& event) {
  // A failed handshake starts again from a fresh open on the next tick.
  if (!StepFinished(UsbConnectStep(s))) return kStepWaiting;
  return OnlineCheck(s, event);
}

// Model still unknown: an Ethernet discovery step and a USB open on every tick; whichever
// card is found first becomes the card.
int RunDetect(PluginState& s, LinkEvent& event) {
  CardSession& c = *s.session;
  if (StepFinished(EthDiscoveryStep(s))) return OnlineCheck(s, event);
  if (UsbOpen(c)) {
    // The handshake follows from LinkStart on the next tick, on the USB path.
    ApplyCardModel(c, UsbOpenedCardModel().cardType);
    return OnlineCheck(s, event);
  }
  s.link.LinkStep = kLinkDetect;
  return kStepYielded;
}

// Chooses the connect path from the model already known.
int StartLink(PluginState& s, LinkEvent& event) {
  // Whatever the card said before the link went is no yardstick for what it says next.
  ForgetReplies(s.link.transport);
  switch (CardModelOf(s.session->cardType).connectBy) {
    case LinkPath::kEthernet:
      s.link.TransportStep = kTransportStart;
      s.link.LinkStep = kLinkEthConnect;
      return RunEthConnect(s, event);
    case LinkPath::kUsb:
      s.link.TransportStep = kTransportStart;
      s.link.LinkStep = kLinkUsbConnect;
      return RunUsbConnect(s, event);
    case LinkPath::kNone:
      return OnlineCheck(s, event);  // no connect path for this model
    case LinkPath::kDetect:
      break;
  }
  s.link.TransportStep = kTransportStart;
  return RunDetect(s, event);
}

}  // namespace

// The spindle speed as a level 0..7 on three output bits: any speed above zero is at least 1.
void ApplySpindleStep(CardSession& c) {
  int level = c.spindleValue * kSpindleSteps / kSpindleFullScale;
  if (c.spindleValue > 0) {
    ++level;
    if (level > kSpindleSteps) level = kSpindleSteps;
  }
  c.outputBits = static_cast<uint16_t>((c.outputBits & ~kSpindleStepMask) | level);
}

void DropPendingPacket(PluginState& s) {
  CardSession& c = *s.session;
  if (c.txLength == 0) return;
  if (CardModelOf(c.cardType).connectBy == LinkPath::kUsb) {
    // The handshake hands the card the number of a pending packet; without one the next
    // packet takes the number after the dropped one. A handshake under way starts afresh.
    c.usbSequence = static_cast<uint8_t>(c.txSequence + 1);
    if (s.link.LinkStep == kLinkUsbConnect) s.link.TransportStep = kTransportStart;
  }
  // Ethernet: the reconnect itself moves past the dropped packet's number.
  c.txLength = 0;
  c.txEncoded = 0;
  s.link.transport.PacketSent = false;
}

int LinkTick(PluginState& s, LinkEvent& event) {
  event = LinkEvent::kNone;
  if (!s.session) return kStepWaiting;
  switch (s.link.LinkStep) {
    case kLinkStart:
      return StartLink(s, event);
    case kLinkEthConnect:
      return RunEthConnect(s, event);
    case kLinkUsbConnect:
      return RunUsbConnect(s, event);
    case kLinkDetect:
      return RunDetect(s, event);
    case kLinkIdle:
      return OnlineCheck(s, event);
    case kLinkEthExchange:
      return RunEthExchange(s, event);
    case kLinkUsbExchange:
      return RunUsbExchange(s, event);
    default:
      s.link.LinkStep = kLinkStart;
      return kStepWaiting;
  }
}

}  // namespace torvexan
