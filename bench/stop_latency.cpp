// How fast the machine stops and comes back, under virtual time, per card model:
//   - from the card's emergency-stop input to the host's EStop;
//   - from the host's Reset (in emergency stop) to the card halted;
//   - from a card restart to streaming again: the host resets as soon as the link is up and
//     the emergency stop raised, then starts its next job; until the card executes its first row.
// Each figure is taken at 20 moments spread over one tick while a job streams (0 to 19 ms after
// the tick); the clock is read every millisecond between ticks. Prints min, mean and max in
// milliseconds.
#include <algorithm>
#include <cstdio>
#include <functional>

#include "integration/job_feeder.h"

namespace torvexan::bench {
namespace {

// The simulated machine of the integration tests, driven here without a test framework.
using namespace torvexan::testing;

constexpr int kPhases = 20;  // moments over one 20 ms tick
constexpr int kMaxTicks = 2000;
constexpr int kUpdateEveryTicks = 5;
constexpr uint32_t kShortBootMs = 300;  // the link holds through the restart
constexpr uint32_t kLongBootMs = 3000;  // the link is lost and found again

struct Spread {
  double min = 1e18, max = 0, sum = 0;
  int n = 0;
  void Add(double v) {
    min = std::min(min, v);
    max = std::max(max, v);
    sum += v;
    ++n;
  }
};

// A machine streaming a long job, ticked as the host ticks it but with the clock stepped one
// millisecond at a time, so that a moment between ticks can be caught.
class Stage {
 public:
  explicit Stage(const CardCase& m)
      : card_(m), rig_(m.model), job_(rig_.host(), m.axes, 600 * 200) {}

  // Connects, streams for a while, and after one more tick of the cycle lets phaseMs pass and
  // calls act(): the moment the figure is taken from.
  bool Start(int phaseMs, const std::function<void()>& act) {
    if (const char* failure = rig_.Connect()) {
      std::fprintf(stderr, "%s: %s\n", card_.name, failure);
      return false;
    }
    for (int t = 0; t < kSlicesPerSecond / 10; ++t) Tick([] { return false; });
    TimerTick();
    rig_.world().Advance(static_cast<uint64_t>(phaseMs));
    act();
    restOfTickMs_ = kTickMs - static_cast<uint32_t>(phaseMs);
    return true;
  }

  // Ticks until done() holds, reading it every millisecond; the time it took, or -1.
  double RunUntil(const std::function<bool()>& done) {
    const uint64_t from = rig_.world().now();
    if (StepMs(restOfTickMs_, done)) return static_cast<double>(rig_.world().now() - from);
    restOfTickMs_ = 0;
    for (int t = 0; t < kMaxTicks; ++t) {
      if (Tick(done)) return static_cast<double>(rig_.world().now() - from);
    }
    return -1;
  }

  MachineRig& rig() { return rig_; }
  JobFeeder& job() { return job_; }
  bool feeding = true;

 private:
  void TimerTick() {
    if (feeding) job_.Fill();
    if (ticks_++ % kUpdateEveryTicks == 0) rig_.plugin().Update();
    rig_.TimerTick();
  }
  bool StepMs(uint32_t ms, const std::function<bool()>& done) {
    for (uint32_t i = 0; i < ms; ++i) {
      rig_.world().Advance(1);
      if (done()) return true;
    }
    return false;
  }
  bool Tick(const std::function<bool()>& done) {
    TimerTick();
    return done() || StepMs(kTickMs, done);
  }

  CardCase card_;
  MachineRig rig_;
  JobFeeder job_;
  uint64_t ticks_ = 0;
  uint32_t restOfTickMs_ = 0;
};

bool EStopInputToHost(const CardCase& m, Spread& out) {
  for (int phase = 0; phase < kPhases; ++phase) {
    Stage stage(m);
    if (!stage.Start(phase, [&] { stage.rig().card().machine().estop = true; })) return false;
    const double ms = stage.RunUntil([&] { return stage.rig().host().machine->EStop != 0; });
    if (ms < 0) return false;
    out.Add(ms);
  }
  return true;
}

bool ResetToHalted(const CardCase& m, Spread& out) {
  for (int phase = 0; phase < kPhases; ++phase) {
    Stage stage(m);
    const bool started = stage.Start(phase, [&] {
      stage.rig().host().machine->EStop = 1;
      stage.rig().plugin().Reset();
    });
    if (!started) return false;
    const double ms = stage.RunUntil([&] { return stage.rig().card().state() == sim::kHalted; });
    if (ms < 0) return false;
    out.Add(ms);
  }
  return true;
}

// The host as an automatic operator: drops its job on the emergency stop, resets as soon as the
// card can hear it, and starts the next job once the card is ready.
bool RestartToStreaming(const CardCase& m, uint32_t bootMs, Spread& out, Spread& estop) {
  for (int phase = 0; phase < kPhases; ++phase) {
    Stage stage(m);
    if (!stage.Start(phase, [&] { stage.rig().card().Reboot(bootMs); })) return false;
    MachineRig& rig = stage.rig();
    HostMachine& host = *rig.host().machine;
    stage.feeding = false;
    const double toEStop = stage.RunUntil([&] { return host.EStop != 0; });
    if (toEStop < 0) return false;
    estop.Add(toEStop);
    stage.job().Abandon();
    const double toOnline = stage.RunUntil([&] { return rig.state().session->online != 0; });
    host.EStop = 0;
    rig.plugin().Reset();
    const double toReady = stage.RunUntil([&] {
      return rig.card().state() == sim::kReady && rig.state().requests.RequestFlags == 0;
    });
    host.SequenceEnded = 0;
    JobFeeder next(rig.host(), m.axes, 10 * kSlicesPerSecond);
    const uint32_t before = rig.card().stats().rowsExecuted;
    const double toRow = stage.RunUntil([&] {
      next.Fill();
      return rig.card().stats().rowsExecuted > before;
    });
    if (toOnline < 0 || toReady < 0 || toRow < 0) return false;
    out.Add(toEStop + toOnline + toReady + toRow);
  }
  return true;
}

void Print(const char* model, const char* what, const Spread& s) {
  std::printf("%-6s %-44s %8.1f %8.1f %8.1f\n", model, what, s.min, s.sum / s.n, s.max);
}

}  // namespace
}  // namespace torvexan::bench

int main() {
  using namespace torvexan;
  using namespace torvexan::bench;
  std::printf("%-6s %-44s %8s %8s %8s\n", "model", "from -> to (ms, virtual time)", "min", "mean",
              "max");
  bool ok = true;
  for (const testing::CardCase& m :
       {testing::kLorn4Case, testing::kLorn5Case, testing::kPell5Case}) {
    if (m.model != sim::CardModel::kLorn4) {
      Spread s;
      ok = EStopInputToHost(m, s) && ok;
      Print(m.name, "e-stop input -> host EStop", s);
    }
    Spread reset;
    ok = ResetToHalted(m, reset) && ok;
    Print(m.name, "Reset in EStop -> card halted", reset);
    for (const uint32_t boot : {kShortBootMs, kLongBootMs}) {
      Spread back, estop;
      ok = RestartToStreaming(m, boot, back, estop) && ok;
      char label[64];
      std::snprintf(label, sizeof label, "restart (boot %u ms) -> host EStop", boot);
      Print(m.name, label, estop);
      std::snprintf(label, sizeof label, "restart (boot %u ms) -> first row again", boot);
      Print(m.name, label, back);
    }
  }
  if (!ok) std::fprintf(stderr, "some figures could not be taken\n");
  return ok ? 0 : 1;
}
