// A plug-in table made of static functions for the host's side of the tests: it records the
// calls in order and, once bound, plays a plug-in with a card behind it on virtual time.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "sim/host/plugin_table.h"

namespace torvexan::sim::testing {

struct FakePlugin {
  // Everything the static entry points share; reset by Table().
  struct World {
    std::vector<std::string> calls;
    std::string settingsPath;
    HostMachine* machine = nullptr;
    HostControl* control = nullptr;
    HostFrame* frame = nullptr;
    CodeCallbackFn code = nullptr;
    MenuRangeCallbackFn menuRange = nullptr;
    int menuId = -1;
    bool initResult = true;

    // The card: rows received and not yet run, one row per 5 ms of virtual time.
    uint64_t nowMs = 0;
    uint64_t nextTickMs = 0;
    bool consuming = true;  // false: the plug-in takes nothing (a card that is not there)
    int minSegments = 30;
    int maxSegments = 50;
    int bufferedRows = 0;
    int64_t rowsRun = 0;
    double remainders[kHostAxisCount] = {};
    std::vector<int32_t> tagsTaken;
    std::vector<int32_t> yTaken;  // where Y stands after each row taken
    int drains = 0;               // times the host said nothing more follows (QueueDrain went to 1)
    bool draining = false;
    uint64_t dwellEndMs = 0;
    int dwellCalls = 0;
    bool dwellQueueWasEmpty = true;  // at every DoDwell: nothing left in the queue or the card
    double lastDwellSeconds = -1.0;
    // Safety: an emergency stop the card raises once at estopAtMs (it halts at once and drops
    // its rows), the Notify codes in order, and a homing that ends after homeMs, aborted or not.
    uint64_t estopAtMs = UINT64_MAX;
    std::vector<int> notified;
    int resets = 0;
    uint64_t homeEndMs = UINT64_MAX;
    bool homeAborts = false;
    int homeAxis = -1;
    // Probing: the probe touches a surface at Z probeSurfaceCounts; each probe takes 100 ms and
    // stops where it touched, or at its target when that lies above the surface.
    int32_t probeSurfaceCounts = -12500;
    uint64_t probeEndMs = UINT64_MAX;
  };

  static World& W() {
    static World world;
    return world;
  }

  static PluginTable Table() {
    W() = World{};
    PluginTable t;
    t.SetProName = [](const char* path) {
      Record("SetProName");
      W().settingsPath = path;
      return "fake plug-in";
    };
    t.SetDoButton = [](DoButtonFn fn) { return Record("SetDoButton"), fn; };
    t.SetSetDRO = [](SetDroFn fn) { return Record("SetSetDRO"), fn; };
    t.SetGetDRO = [](GetDroFn fn) { return Record("SetGetDRO"), fn; };
    t.SetGetLED = [](GetLedFn fn) { return Record("SetGetLED"), fn; };
    t.SetSetLED = [](SetLedFn fn) { return Record("SetSetLED"), fn; };
    t.SetCode = [](CodeCallbackFn fn) {
      Record("SetCode");
      W().code = fn;
      return fn;
    };
    t.SetGetMenuRange = [](MenuRangeCallbackFn fn) {
      Record("SetGetMenuRange");
      W().menuRange = fn;
      return fn;
    };
    t.InitControl = [](HostMachine* m, HostDoubles*, HostControl* c, HostFrame* f) {
      Record("InitControl");
      W().machine = m;
      W().control = c;
      W().frame = f;
      // The real plug-in asks for its menu id here, unchecked.
      W().menuId = W().menuRange(1);
      return W().initResult;
    };
    t.PostInitControl = [] {
      Record("PostInitControl");
      W().code("(fake ready)");
      return 0;
    };
    t.Config = [] { return Record("Config"), 0; };
    t.StopPlug = [] { Record("StopPlug"); };
    t.Update = [] { Record("Update"); };
    t.Notify = [](int code) {
      Record("Notify");
      W().notified.push_back(code);
    };
    t.DoDwell = &DoDwell;
    t.Reset = [] {
      Record("Reset");
      ++W().resets;
    };
    t.JogOn = [](int, int, double) { Record("JogOn"); };
    t.JogOff = [](int) { Record("JogOff"); };
    t.Purge = [](int) { Record("Purge"); };
    t.Probe = &Probe;
    t.Home = &Home;
    t.TorvexanDispatchTimers = &DispatchTimers;
    return t;
  }

  static void Record(const char* name) {
    // Update and the timers come thousands of times; only the first of each is kept.
    const std::string call = name;
    if ((call == "Update" || call == "Dispatch") && !W().calls.empty() &&
        W().calls.back() == call) {
      return;
    }
    W().calls.push_back(call);
  }

  static void DoDwell(double seconds) {
    World& w = W();
    Record("DoDwell");
    ++w.dwellCalls;
    w.lastDwellSeconds = seconds;
    w.dwellQueueWasEmpty = w.machine->MoveQueueRead == w.machine->MoveQueueWrite &&
                           w.bufferedRows == 0 && w.control->MotionIdle == 1;
    w.machine->Dwelling = 1;
    w.dwellEndMs = w.nowMs + static_cast<uint64_t>(seconds * 1000.0);
  }

  static void Home(int axis) {
    World& w = W();
    Record("Home");
    w.machine->Homing = 1;
    w.control->MotionIdle = 0;
    w.homeAxis = axis;
    w.homeEndMs = w.nowMs + 100;
  }

  static void Probe() {
    World& w = W();
    Record("Probe");
    w.control->MotionIdle = 0;
    w.probeEndMs = w.nowMs + 100;
  }

  static void EndProbe(World& w) {
    HostMachine& m = *w.machine;
    const HostControl& c = *w.control;
    w.probeEndMs = UINT64_MAX;
    const auto target = [&c](int a) {
      return static_cast<int32_t>(std::lround(c.ProbeTarget[a] * c.StepsPerUnit[a]));
    };
    const bool touched = target(2) <= w.probeSurfaceCounts;
    for (int a = 0; a < kHostAxisCount; ++a) {
      const int32_t at = a == 2 && touched ? w.probeSurfaceCounts : target(a);
      m.Axes[a].PositionCounts = at;
      m.Axes[a].ProbeCounts = at;
      m.Axes[a].ProbeFlag = 0;
    }
    m.InputSignals[kProbeInput].Active = touched ? 1 : 0;
    m.SequenceEnded = 1;
    w.control->MotionIdle = 1;
  }

  // What the plug-in does on its own for safety: the card's emergency stop, the end of homing.
  static void RunSafety(World& w) {
    if (w.nowMs >= w.probeEndMs) EndProbe(w);
    HostMachine& m = *w.machine;
    if (w.nowMs >= w.estopAtMs) {
      w.estopAtMs = UINT64_MAX;
      m.EStop = 1;
      w.bufferedRows = 0;
      if (m.Homing) w.homeAborts = true;
    }
    if (m.Homing && w.nowMs >= w.homeEndMs) {
      m.Homing = 0;
      m.SequenceEnded = 1;
      w.control->MotionIdle = 1;
      m.AxisHomed[w.homeAxis] = w.homeAborts ? 0 : 1;
      if (w.code != nullptr && w.homeAborts) w.code("(fake homing aborted)");
    }
  }

  // The plug-in's 20 ms cycle: take a batch when the card has room, run four rows.
  static int DispatchTimers() {
    World& w = W();
    Record("Dispatch");
    if (w.nowMs < w.nextTickMs) return static_cast<int>(w.nextTickMs - w.nowMs);
    w.nextTickMs = w.nowMs + 20;
    RunSafety(w);
    if (w.control->QueueDrain != 0 && !w.draining) ++w.drains;
    w.draining = w.control->QueueDrain != 0;
    if (w.machine->Dwelling && w.nowMs >= w.dwellEndMs) w.machine->Dwelling = 0;
    if (w.consuming && !w.machine->EStop) TakeBatch(w);
    const int run = std::min(w.bufferedRows, 4);
    w.bufferedRows -= run;
    w.rowsRun += run;
    if (w.bufferedRows == 0) w.control->MotionIdle = 1;
    return 20;
  }

  static void TakeBatch(World& w) {
    HostMachine& m = *w.machine;
    const int available = (m.MoveQueueWrite - m.MoveQueueRead + kMoveQueueSize) % kMoveQueueSize;
    const int room = 200 - w.bufferedRows;
    const int n = std::min({available, w.maxSegments, room});
    if (n <= 0 || (n < w.minSegments && !w.control->QueueDrain)) return;
    for (int i = 0; i < n; ++i) {
      const int entry = m.MoveQueueRead;
      w.tagsTaken.push_back(m.MoveQueue[entry].MoveTag);
      for (int a = 0; a < kHostAxisCount; ++a) {
        const double d = w.control->MoveQueue[entry].MoveSteps[a] + w.remainders[a];
        const double r = d >= 0 ? std::floor(d + 0.5) : std::ceil(d - 0.5);
        w.remainders[a] = d - r;
        m.Axes[a].PositionCounts += static_cast<int32_t>(r);
      }
      w.yTaken.push_back(m.Axes[1].PositionCounts);
      m.MoveQueueRead = (m.MoveQueueRead + 1) % kMoveQueueSize;
    }
    w.bufferedRows += n;
    w.control->MotionIdle = 0;
  }
};

}  // namespace torvexan::sim::testing
