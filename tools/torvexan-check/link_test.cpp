#include "link_test.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "check_system.h"
#include "host/timer_cycle.h"
#include "link/card_session.h"
#include "link/link_machine.h"
#include "link/packets.h"
#include "messages.h"
#include "pinned_net.h"
#include "state/plugin_state.h"

namespace torvexan::check {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr double kProgressEveryMs = 250;
constexpr double kCardPeriodMs = 5;  // the card's clock counts 5 ms periods
constexpr double kPartsPerMillion = 1e6;
constexpr double kShortestClockSpanMs = 1000;  // shorter spans say nothing about the clock

// Ethernet needs no USB: the link machine's detection must not open a USB device.
class NoUsbLoader final : public UsbLoader {
 public:
  const UsbLibrary* Load() override { return nullptr; }
};

// Zeroed host records: the link machine folds every reply into them, and nothing reads them.
struct QuietHost {
  HostMachine machine{};
  HostDoubles doubles{};
  HostControl control{};
  HostFrame frame{};
};

// The card's clock against the PC's over the spans the link was up.
struct ClockSpan {
  bool open = false;
  uint16_t lastCardTime = 0;
  double lastPcMs = 0;
  double cardMs = 0, pcMs = 0;  // summed over spans

  void Sample(uint16_t cardTime, double pcMs) {
    if (open) {
      cardMs += static_cast<uint16_t>(cardTime - lastCardTime) * kCardPeriodMs;
      this->pcMs += pcMs - lastPcMs;
    }
    open = true;
    lastCardTime = cardTime;
    lastPcMs = pcMs;
  }
};

double MsBetween(SteadyClock::time_point a, SteadyClock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

class LinkRun {
 public:
  LinkRun(const Platform& platform, const LinkTarget& target, const LinkTestSettings& how,
          LinkReport& report)
      : pinned_(*platform.net, target.localAddress, target.cardAddress),
        state_(Narrowed(platform, target)),
        how_(how),
        report_(report) {
    PluginState& s = state_;
    s.host.machine = &host_->machine;
    s.host.doubles = &host_->doubles;
    s.host.control = &host_->control;
    s.host.frame = &host_->frame;
    s.session = std::make_unique<CardSession>();
    std::memset(s.session.get(), 0, sizeof(CardSession));
    StartCardSession(*s.session, s.platform);
    // A USB card is taken as known, so the link machine goes straight to its handshake.
    if (target.usb) ApplyCardModel(*s.session, kCardPell5);
    report_.ran = true;
    report_.transport = target.usb ? "usb" : "ethernet";
    report_.seconds = how.seconds;
    report_.tickMs = how.tickMs;
  }
  ~LinkRun() { StopCardSession(*state_.session); }

  void Run();

 private:
  Platform Narrowed(const Platform& platform, const LinkTarget& target) {
    Platform p = platform;
    if (!target.usb) {
      p.net = &pinned_;
      p.usb = &noUsb_;
    }
    return p;
  }

  void Tick();
  void WaitForNextTick(SteadyClock::time_point due);
  void AfterLinkStep();
  double Now() const { return MsBetween(start_, SteadyClock::now()); }

  PinnedNet pinned_;
  NoUsbLoader noUsb_;
  std::unique_ptr<QuietHost> host_ = std::make_unique<QuietHost>();
  PluginState state_;
  const LinkTestSettings& how_;
  LinkReport& report_;
  SteadyClock::time_point start_ = SteadyClock::now();
  bool pollPending_ = false;
  double pollSentMs_ = 0;
  uint64_t lossesAtPoll_ = 0;
  uint64_t resendsAtPoll_ = 0;
  ClockSpan clock_;
};

void LinkRun::Run() {
  const auto tick = std::chrono::duration<double, std::milli>(how_.tickMs);
  double nextProgress = kProgressEveryMs;
  auto due = start_;
  while (Now() < how_.seconds * 1000) {
    WaitForNextTick(due);
    due += std::chrono::duration_cast<SteadyClock::duration>(tick);
    Tick();
    if (how_.progress && Now() >= nextProgress) {
      nextProgress += kProgressEveryMs;
      report_.counters = state_.session->counters;
      how_.progress(report_, Now() / 1000);
    }
  }
  report_.counters = state_.session->counters;
  report_.model = ModelName(state_.session->cardType);
  report_.cardName = state_.session->serialText;
  report_.clockKnown = clock_.pcMs >= kShortestClockSpanMs;
  if (report_.clockKnown) {
    report_.cardClockPpm = (clock_.cardMs - clock_.pcMs) / clock_.pcMs * kPartsPerMillion;
  }
}

// One tick of the plug-in's timer: a status poll when the link is idle, then the link step and
// what the cycle does with what it reports.
void LinkRun::Tick() {
  PluginState& s = state_;
  CardSession& c = *s.session;
  ++s.cycle.TickCount;
  // No poll that the test would end before its reply could come.
  if (c.online && c.txLength == 0 && Now() + how_.tickMs < how_.seconds * 1000) {
    c.txLength = BuildStatusPoll(c);
    ++report_.polls;
    pollPending_ = true;
    pollSentMs_ = Now();
    lossesAtPoll_ = c.counters.linkLosses;
    resendsAtPoll_ = c.counters.resends;
  }
  RunLinkStep(s);
  AfterLinkStep();
}

// Between ticks an Ethernet reply is taken the moment it arrives, so that its round trip is
// measured to the millisecond rather than to the tick. Time-outs still count ticks only.
void LinkRun::WaitForNextTick(SteadyClock::time_point due) {
  PluginState& s = state_;
  for (;;) {
    const double left = MsBetween(SteadyClock::now(), due);
    if (left <= 0) return;
    const bool awaitingReply = s.link.LinkStep == kLinkEthExchange && s.session->txLength > 0;
    if (!awaitingReply) {
      std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left));
      return;
    }
    if (WaitReadable(s.session->socket, static_cast<int>(left))) {
      RunLinkStep(s);
      AfterLinkStep();
    }
  }
}

void LinkRun::AfterLinkStep() {
  CardSession& c = *state_.session;
  if (c.counters.linkLosses != lossesAtPoll_) clock_.open = false;
  if (!pollPending_ || c.txLength != 0 || !c.online) return;
  pollPending_ = false;
  // A poll that lived through a lost link measures the reconnect, not the round trip; one
  // answered only after a resend measures the resend's wait: a loss, counted apart from slow
  // answers.
  const bool throughLoss = c.counters.linkLosses != lossesAtPoll_;
  if (!throughLoss && c.counters.resends != resendsAtPoll_) ++report_.resentPolls;
  if (!throughLoss && c.counters.resends == resendsAtPoll_) {
    report_.roundTripsMs.push_back(Now() - pollSentMs_);
  }
  // The card answers a resent packet with its first answer, whose clock is that of the first
  // send: only a poll answered at the first send dates the card's clock.
  if (ReplyIsStatus(c) && c.counters.resends == resendsAtPoll_) clock_.Sample(c.cardTime, Now());
}

}  // namespace

void RunLinkTest(const Platform& platform, const LinkTarget& target, const LinkTestSettings& how,
                 LinkReport& report) {
  LinkRun run(platform, target, how, report);
  run.Run();
}

}  // namespace torvexan::check
