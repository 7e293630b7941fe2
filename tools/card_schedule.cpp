#include "card_schedule.h"

namespace torvexan::tools {
namespace {

uint64_t MsOrNever(double seconds) {
  return seconds > 0 ? static_cast<uint64_t>(seconds * 1000) : UINT64_MAX;
}

}  // namespace

CardFaultSchedule::CardFaultSchedule(const CardServerOptions& o)
    : o_(o),
      campaign_(o.campaign, o.seed),
      nextReboot_(o.rebootAfter > 0 ? MsOrNever(o.rebootAfter) : MsOrNever(o.rebootEvery)),
      silentFrom_(MsOrNever(o.silentAfter)),
      silentUntil_(o.silentFor > 0 && o.silentAfter > 0
                       ? silentFrom_ + static_cast<uint64_t>(o.silentFor * 1000)
                       : UINT64_MAX),
      nextToggle_(o.toggleInputsMs > 0 ? static_cast<uint64_t>(o.toggleInputsMs) : UINT64_MAX) {}

unsigned CardFaultSchedule::Advance(sim::VirtualCard& card, uint64_t now) {
  unsigned events = 0;
  if (now >= nextReboot_) {
    card.Reboot(o_.bootMs);
    campaign_.NoteReboot();
    events |= kCardRestarted;
    nextReboot_ = o_.rebootEvery > 0 ? now + MsOrNever(o_.rebootEvery) : UINT64_MAX;
  }
  if (now >= nextToggle_) {
    sim::Machine& m = card.machine();
    const bool on = m.handwheelAxis < 0;
    m.handwheelAxis = on ? 0 : -1;
    m.handwheelX10 = on;
    nextToggle_ = now + static_cast<uint64_t>(o_.toggleInputsMs);
  }
  const bool pressedBefore = card.machine().estop;
  const bool burst = campaign_.Advance(card, now);
  if (card.machine().estop != pressedBefore) {
    events |= card.machine().estop ? kEstopPressed : kEstopReleased;
  }
  const bool shouldBeSilent = burst || (now >= silentFrom_ && now < silentUntil_);
  if (shouldBeSilent != silent_) {
    silent_ = shouldBeSilent;
    card.SetSilent(silent_);
    events |= silent_ ? kCardFellSilent : kCardAnswersAgain;
    if (silent_) ++silences_;
  }
  return events;
}

const char* CardFaultEventText(unsigned event) {
  if (event & kCardRestarted) return "the card restarts";
  if (event & kEstopPressed) return "the card's e-stop button is pressed";
  if (event & kEstopReleased) return "the card's e-stop button is released";
  if (event & kCardFellSilent) return "the card falls silent";
  if (event & kCardAnswersAgain) return "the card answers again";
  return "";
}

}  // namespace torvexan::tools
