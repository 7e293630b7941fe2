// CPU time of the plug-in's whole timer tick while it streams a job to a Lorn5: request
// dispatcher, motion state machine, link exchange and signal mapping, as one call of the
// tick procedure. The card answers within the tick that sends (no network latency), so the
// exchange and the mapping of its reply are inside the timed call.
//
// Two peers answer: the in-process virtual card (its decoding, row buffer and reply building
// are then part of the figure), and an echo peer that repeats one status reply (the plug-in's
// own cost). Each iteration times one tick with steady_clock: the tick never blocks, so its
// wall time is its CPU time. The preparation between timed ticks (refilling the queue, letting
// the card run its rows, the poll tick) is not timed; GoogleBenchmark's CPU column counts it,
// so read the Time column.
#include <benchmark/benchmark.h>

#include <chrono>

#include "echo_status_peer.h"
#include "integration/job_feeder.h"

namespace torvexan::bench {
namespace {

using testing::JobFeeder;
using testing::MachineRig;

constexpr int kFullBatch = 50;
constexpr int kBenchJobSlices = 1 << 30;  // a job that never ends
constexpr uint32_t kRowsOfABatchMs = kFullBatch * 5;
constexpr int kMaxPreparationTicks = 50;

enum class Peer { kVirtualCard, kEcho };
enum class TimedTick { kBatch, kPoll };

class StreamingLorn5 {
 public:
  explicit StreamingLorn5(Peer peer) : peer_(peer) {}

  const char* Start() {
    if (const char* failure = machine_.Connect()) return failure;
    machine_.netCard()->SetLatency(0);
    machine_.state().session->net = &echo_;
    for (int i = 0; i < 10; ++i) Tick();
    if (peer_ == Peer::kEcho && !echo_.StartEcho()) return "no status reply to repeat";
    return nullptr;
  }

  // Untimed ticks until the next one will send a full batch (kBatch) or the poll that
  // follows a batch (kPoll).
  bool PrepareFor(TimedTick timed) {
    for (int i = 0; i < kMaxPreparationTicks; ++i) {
      job_.Fill();
      machine_.plugin().Update();  // keeps the cycle timer alive
      const PluginState& s = machine_.state();
      const bool idle = s.session->txLength == 0;
      if (timed == TimedTick::kBatch && idle && s.MotionStep == 0 &&
          s.session->freeSlots >= kFullBatch && job_.QueuedSlices() >= kFullBatch) {
        return true;
      }
      if (timed == TimedTick::kPoll && idle && s.MotionStep != 0) return true;
      // The card runs its rows, so it has room for the next full batch.
      if (peer_ == Peer::kVirtualCard) machine_.world().Advance(kRowsOfABatchMs);
      machine_.TimerTick();
    }
    return false;
  }

  int64_t TimedTickNs() {
    const auto t0 = std::chrono::steady_clock::now();
    machine_.TimerTick();
    const auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count();
  }

  int queueRead() { return machine_.host().machine->MoveQueueRead; }
  // The tick sent its packet and took the reply: nothing is left pending.
  bool exchanged() { return machine_.state().session->txLength == 0; }

 private:
  void Tick() {
    job_.Fill();
    machine_.Tick();
  }

  Peer peer_;
  MachineRig machine_{sim::CardModel::kLorn5};
  JobFeeder job_{machine_.host(), 5, kBenchJobSlices};
  EchoStatusPeer echo_{machine_.world().net};
};

void BM_StreamingTickLorn5(benchmark::State& state, Peer peer, TimedTick timed) {
  StreamingLorn5 bench(peer);
  if (const char* failure = bench.Start()) {
    state.SkipWithError(failure);
    return;
  }
  int64_t rows = 0;
  for (auto _ : state) {
    if (!bench.PrepareFor(timed)) {
      state.SkipWithError("the plug-in never came to the tick to time");
      return;
    }
    const int before = bench.queueRead();
    state.SetIterationTime(static_cast<double>(bench.TimedTickNs()) * 1e-9);
    const int taken = (bench.queueRead() - before + kMoveQueueSize) % kMoveQueueSize;
    if (!bench.exchanged()) {
      state.SkipWithError("the reply was not taken within the timed tick");
      return;
    }
    if (taken != (timed == TimedTick::kBatch ? kFullBatch : 0)) {
      state.SkipWithError("the timed tick did not send what it should");
      return;
    }
    rows += taken;
  }
  state.counters["rows/tick"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

BENCHMARK_CAPTURE(BM_StreamingTickLorn5, batch50_virtual_card, Peer::kVirtualCard,
                  TimedTick::kBatch)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_StreamingTickLorn5, batch50_echo_peer, Peer::kEcho, TimedTick::kBatch)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_StreamingTickLorn5, poll_virtual_card, Peer::kVirtualCard, TimedTick::kPoll)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_StreamingTickLorn5, poll_echo_peer, Peer::kEcho, TimedTick::kPoll)
    ->UseManualTime();

}  // namespace
}  // namespace torvexan::bench
