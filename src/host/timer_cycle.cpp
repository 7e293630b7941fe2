#include "host/timer_cycle.h"

#include "link/card_session.h"
#include "link/link_machine.h"
#include "motion/motion_machine.h"
#include "signals/request_dispatcher.h"
#include "signals/signal_mapping.h"

namespace torvexan {

namespace {

constexpr uint32_t kLimitOverrideFlag = 0x40;  // header flag while limits are overridden
// Most exchanges of one tick with a USB card: 15 rows, enough for a 31.25 ms tick (6.25 rows
// executed) with room to refill the card after a tick that came later still.
constexpr int kUsbExchangesPerTick = 3;

// One link step and what its event asks for; the event is handed back.
int LinkStepAndMapping(PluginState& s, LinkEvent& event) {
  const int result = LinkTick(s, event);
  switch (event) {
    case LinkEvent::kExchanged:
      MapReply(s);
      break;
    case LinkEvent::kLost:
      // Motion under way stops and the pending packet goes; an idle machine only reconnects.
      MapLinkLoss(s);
      break;
    case LinkEvent::kNone:
      break;
  }
  return result;
}

void StopCycleTimer(PluginState& s, void* window, uintptr_t id) {
  s.platform.timer->Stop(window, id);
  if (id == s.cycle.timerId) s.cycle.timerId = 0;
}

// A further exchange within this tick is worth it and cheap: the USB card (whose exchange
// completes within the call) answered the last packet at the first attempt, no request waits
// for the dispatcher, and rows wait that the card has room for (a batch of the host's queue,
// or the rest of what the jog's feed wanted).
bool AnotherUsbBatchFits(const PluginState& s) {
  const CardSession& c = *s.session;
  return c.online && CardModelOf(c.cardType).exchangeBy == LinkPath::kUsb &&
         s.link.LinkStep == kLinkIdle && s.link.transport.ExchangeAttempts == 0 &&
         s.requests.RequestFlags == 0 && MoreRowsWaiting(s);
}

// The USB card takes at most five rows a packet, fewer than it executes when the host's timer
// fires late, so it gets the waiting rows in further exchanges of the same tick. A further
// exchange only follows one answered at once, so the tick is never held longer than by one
// exchange with a card that does not answer.
void ExchangeWaitingUsbBatches(PluginState& s) {
  for (int n = 1; n < kUsbExchangesPerTick && AnotherUsbBatchFits(s); ++n) {
    MotionTick(s);
    RunLinkStep(s);
  }
}

// An Ethernet card whose buffer fell behind because packets had to be sent again gets the next
// full batch as soon as the last one is answered, not a tick later: one exchange a tick instead
// of one every other tick, until its buffer is back where the stream keeps it. A link that lost
// nothing keeps its pace, and so its traffic.
void CatchUpEthernetStream(PluginState& s, LinkEvent lastEvent) {
  const CardSession& c = *s.session;
  TransportState& t = s.link.transport;
  // Time lost while the card stood idle, or before its buffer last filled, is made up. Only the
  // answer to a packet sent once says so: a resent one may be answered with what the card said
  // when the first send reached it, long before.
  const bool fresh = lastEvent == LinkEvent::kExchanged && t.SendCount == 0 && !t.CarriedOver;
  if (fresh && (c.freeSlots < c.maxSegments || !CardExecutingRows(c))) {
    t.LostTimeSinceFull = false;
  }
  if (lastEvent != LinkEvent::kExchanged || !c.online || !t.LostTimeSinceFull ||
      CardModelOf(c.cardType).exchangeBy != LinkPath::kEthernet || s.link.LinkStep != kLinkIdle ||
      s.requests.RequestFlags != 0 || !CatchingUp(s)) {
    return;
  }
  MotionTick(s);
  RunLinkStep(s);
}

// The reply just mapped showed a card that halted on its own, which may have switched its
// outputs and spindle on again from the header of the packet it answered: the next packet, all
// off, goes in this tick instead of the next. (A card that halted while everything was off, as
// at power-up, waits for the next tick as usual.)
void DarkenCardAtOnce(PluginState& s) {
  const CardSession& c = *s.session;
  if (!c.online || c.txLength != 0 || s.link.LinkStep != kLinkIdle) return;
  DispatchRequests(s);
  MotionTick(s);
  RunLinkStep(s);
}

}  // namespace

int RunLinkStep(PluginState& s) {
  LinkEvent event = LinkEvent::kNone;
  return LinkStepAndMapping(s, event);
}

void NoteUpdate(PluginState& s) {
  s.cycle.UpdateSeen = true;
  // Only one cycle timer at a time: several Updates before its first tick must not start
  // more timers, or the cycle would run at a multiple of its period.
  if (s.cycle.timerId == 0) {
    s.cycle.timerId = s.platform.timer->Start(kCycleTimerId, kTickPeriodMs);
  }
}

void CycleTick(PluginState& s, void* window, uintptr_t id) {
  if (s.lifecycle != Lifecycle::kRunning) {
    StopCycleTimer(s, window, id);
    return;
  }
  ++s.cycle.IdleTicks;
  if (s.cycle.IdleTicks > kIdleTicksBeforeStop && !s.cycle.UpdateSeen) {
    StopCycleTimer(s, window, id);
    return;
  }
  if (s.cycle.UpdateSeen) {
    s.cycle.UpdateSeen = false;
    s.cycle.IdleTicks = 0;
  }
  // The host's message loop may run inside a tick (inside a host callback); such a nested
  // tick only keeps the books.
  if (s.cycle.InTick) return;
  ++s.cycle.TickCount;
  s.cycle.InTick = true;
  if (CardSession* session = s.session.get()) {
    session->headerFlags = s.host.machine->LimitOverride != 0 ? kLimitOverrideFlag : 0;
    if (session->online) {
      DispatchRequests(s);
      MotionTick(s);
    }
    LinkEvent event = LinkEvent::kNone;
    // What the packets carried so far; a card that halted with nothing on has nothing to undo.
    const bool lit =
        !session->outputsHeldOff && (session->outputBits != 0 || session->spindleValue != 0);
    LinkStepAndMapping(s, event);
    if (lit && session->outputsHeldOff) DarkenCardAtOnce(s);
    ExchangeWaitingUsbBatches(s);
    CatchUpEthernetStream(s, event);
  }
  s.cycle.InTick = false;
}

}  // namespace torvexan
