#include "link/link_machine.h"

#include "link/card_session.h"
#include "link/eth_transport.h"
#include "link/packets.h"
#include "link/reply_check.h"
#include "link/step_result.h"
#include "link/usb_transport.h"
#include "signals/signal_mapping.h"

namespace torvexan {

namespace {

constexpr uint16_t kTransportStart = 0;
constexpr uint16_t kSpindleStepMask = 0x0007;  // outputBits 0..2 carry the spindle step
constexpr int kSpindleSteps = 7;
constexpr int kSpindleFullScale = 1000;

// The spindle speed as a level 0..7 on three output bits: any speed above zero is at least 1.
void ApplySpindleStep(CardSession& c) {
  int level = c.spindleValue * kSpindleSteps / kSpindleFullScale;
  if (c.spindleValue > 0) {
    ++level;
    if (level > kSpindleSteps) level = kSpindleSteps;
  }
  c.outputBits = static_cast<uint16_t>((c.outputBits & ~kSpindleStepMask) | level);
}

// After an exchange that left the link up: the packet is done and the reply goes into the
// host.
void FinishExchange(PluginState& s) {
  CardSession& c = *s.session;
  c.txLength = 0;
  MapFeedback(s);
  MapInputs(s);
  MapOutputs(s);
  if (s.settings.MultiStep) ApplySpindleStep(c);
}

int RunEthExchange(PluginState& s);
int RunUsbExchange(PluginState& s);

// The loop head: back to connecting when the link is down, idle when nothing is pending,
// otherwise the exchange of the pending packet on the model's transport.
int OnlineCheck(PluginState& s) {
  CardSession& c = *s.session;
  if (!c.online) {
    s.LinkStep = kLinkStart;
    return kStepWaiting;
  }
  if (c.txLength > 0 && !PendingPacketFitsFamily(c)) {
    // Left pending from before a card of the other family was found: that card would never
    // answer it and the link would be lost over and over. The producers build afresh.
    c.txLength = 0;
    c.txEncoded = 0;
  }
  if (c.txLength <= 0) {
    s.LinkStep = kLinkIdle;
    return kStepYielded;
  }
  switch (c.cardType) {
    case kCardUnknown:
    case kCardLorn4:
    case kCardLorn5:
      s.TransportStep = kTransportStart;
      s.LinkStep = kLinkEthExchange;
      return RunEthExchange(s);
    case kCardPell5:
      s.TransportStep = kTransportStart;
      s.LinkStep = kLinkUsbExchange;
      return RunUsbExchange(s);
    default:
      // No transport reaches this model: nothing is exchanged.
      FinishExchange(s);
      return OnlineCheck(s);
  }
}

// Where an exchange step has finished: a lost link keeps the packet for after reconnecting,
// unless motion was under way and the loss stopped it.
int AfterExchange(PluginState& s) {
  if (!s.session->online) {
    MapLinkLoss(s);
    s.LinkStep = kLinkStart;
    return kStepWaiting;
  }
  FinishExchange(s);
  return OnlineCheck(s);
}

int RunEthExchange(PluginState& s) {
  if (!StepFinished(EthExchangeStep(s, s.session->txLength))) return kStepWaiting;
  return AfterExchange(s);
}

int RunUsbExchange(PluginState& s) {
  if (!StepFinished(UsbExchangeStep(s))) return kStepWaiting;
  return AfterExchange(s);
}

int RunEthConnect(PluginState& s) {
  if (!StepFinished(EthDiscoveryStep(s))) return kStepWaiting;
  return OnlineCheck(s);
}

int RunUsbConnect(PluginState& s) {
  // A failed handshake starts again from a fresh open on the next tick.
  if (!StepFinished(UsbConnectStep(s))) return kStepWaiting;
  return OnlineCheck(s);
}

// Model still unknown: an Ethernet discovery step and a USB open on every tick; whichever
// card is found first becomes the card.
int RunDetect(PluginState& s) {
  CardSession& c = *s.session;
  if (StepFinished(EthDiscoveryStep(s))) return OnlineCheck(s);
  if (UsbOpen(c)) {
    // The handshake follows from LinkStart on the next tick, on the USB path.
    ApplyCardModel(c, kCardPell5);
    return OnlineCheck(s);
  }
  s.LinkStep = kLinkDetect;
  return kStepYielded;
}

// Chooses the connect path from the model already known.
int StartLink(PluginState& s) {
  // Whatever the card said before the link went is no yardstick for what it says next.
  ForgetReplies(s);
  switch (s.session->cardType) {
    case kCardLorn4:
    case kCardLorn5:
      s.TransportStep = kTransportStart;
      s.LinkStep = kLinkEthConnect;
      return RunEthConnect(s);
    case kCardPell5:
      s.TransportStep = kTransportStart;
      s.LinkStep = kLinkUsbConnect;
      return RunUsbConnect(s);
    case kCardPell4:
      return OnlineCheck(s);  // no connect path for this model
    default:
      s.TransportStep = kTransportStart;
      return RunDetect(s);
  }
}

}  // namespace

void DropPendingPacket(PluginState& s) {
  CardSession& c = *s.session;
  if (c.txLength == 0) return;
  if (c.cardType == kCardPell5) {
    // The handshake hands the card the number of a pending packet; without one the next
    // packet takes the number after the dropped one. A handshake under way starts afresh.
    c.usbSequence = static_cast<uint8_t>(c.txSequence + 1);
    if (s.LinkStep == kLinkUsbConnect) s.TransportStep = kTransportStart;
  }
  // Ethernet: the reconnect itself moves past the dropped packet's number.
  c.txLength = 0;
  c.txEncoded = 0;
  s.transport.PacketSent = false;
}

int LinkTick(PluginState& s) {
  if (!s.session) return kStepWaiting;
  switch (s.LinkStep) {
    case kLinkStart:
      return StartLink(s);
    case kLinkEthConnect:
      return RunEthConnect(s);
    case kLinkUsbConnect:
      return RunUsbConnect(s);
    case kLinkDetect:
      return RunDetect(s);
    case kLinkIdle:
      return OnlineCheck(s);
    case kLinkEthExchange:
      return RunEthExchange(s);
    case kLinkUsbExchange:
      return RunUsbExchange(s);
    default:
      s.LinkStep = kLinkStart;
      return kStepWaiting;
  }
}

}  // namespace torvexan
