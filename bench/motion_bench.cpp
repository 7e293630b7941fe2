// Cost of the motion work of one tick: planning a profile, sampling rows from five running
// profiles, converting a 50-row batch of the host's queue, and a whole streaming tick.
#include <benchmark/benchmark.h>

#include <memory>

#include "link/card_session.h"
#include "motion/motion_machine.h"
#include "motion/profile.h"
#include "motion/queue_rows.h"
#include "state/plugin_state.h"

namespace torvexan {
namespace {

// A plug-in state over host records of its own and a five-axis Ethernet card.
struct BenchWorld {
  std::unique_ptr<HostMachine> machine = std::make_unique<HostMachine>();
  std::unique_ptr<HostControl> control = std::make_unique<HostControl>();
  PluginState s{Platform{}};

  BenchWorld() {
    s.host.machine = machine.get();
    s.host.control = control.get();
    s.session = std::make_unique<CardSession>();
    ResetCardSession(*s.session);
    ApplyCardModel(*s.session, kCardLorn5);
    s.session->freeSlots = 199;
    s.session->online = 1;
  }

  // The host's planner keeps 50 fractional slices queued on all six axes.
  void FillQueue(int entries) {
    HostMachine& m = *machine;
    for (int i = 0; i < entries; ++i) {
      const int at = m.MoveQueueWrite;
      m.MoveQueue[at].MoveTag = at;
      for (int h = 0; h < kHostAxisCount; ++h) control->MoveQueue[at].MoveSteps[h] = 3.37 * (h + 1);
      m.MoveQueueWrite = (at + 1) % kMoveQueueSize;
    }
  }
};

void BM_BuildProfile(benchmark::State& state) {
  AxisProfile p;
  InitAxisProfile(p);
  double distance = 1.0;
  for (auto _ : state) {
    BuildProfile(1000, 50, 1, distance, kTimeQuantum, 1000, p);
    benchmark::DoNotOptimize(p.stepCount);
    distance = distance < 100 ? distance * 1.01 : 0.01;  // long and short moves alike
  }
}
BENCHMARK(BM_BuildProfile);

// One row per iteration from five running profiles.
void BM_GenerateRowFiveChannels(benchmark::State& state) {
  BenchWorld w;
  CardSession& cs = *w.s.session;
  int32_t rows[kRowBufferValues];
  for (auto _ : state) {
    if (cs.axisJog[0].stepIndex >= cs.axisJog[0].stepCount) {
      state.PauseTiming();
      for (int c = 0; c < kMaxCardAxes; ++c) {
        BuildProfile(1000, 50, 10, 5.0 + c, kTimeQuantum, 1000, cs.axisJog[c]);
      }
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(GenerateRows(cs, 1, rows));
  }
}
BENCHMARK(BM_GenerateRowFiveChannels);

void BM_ConvertQueueBatch50(benchmark::State& state) {
  BenchWorld w;
  w.FillQueue(50);
  int32_t rows[kRowBufferValues];
  int32_t tag = 0;
  for (auto _ : state) {
    w.machine->MoveQueueRead = 0;  // the same 50 entries again
    benchmark::DoNotOptimize(ConvertQueueRows(w.s.settings, *w.machine, *w.control, *w.s.session,
                                              w.s.motion, 50, rows, tag));
  }
}
BENCHMARK(BM_ConvertQueueBatch50);

// A streaming tick that sends a 50-row batch, then the tick that finds it exchanged.
void BM_StreamingTickPair(benchmark::State& state) {
  BenchWorld w;
  CardSession& cs = *w.s.session;
  w.FillQueue(50);
  for (auto _ : state) {
    w.machine->MoveQueueRead = 0;
    MotionTick(w.s);
    cs.txLength = 0;
    MotionTick(w.s);
    cs.txLength = 0;
  }
}
BENCHMARK(BM_StreamingTickPair);

}  // namespace
}  // namespace torvexan
