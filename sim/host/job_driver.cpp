#include "sim/host/job_driver.h"

#include <algorithm>

namespace torvexan::sim {

const char* PhaseName(JobDriver::Phase phase) {
  switch (phase) {
    case JobDriver::Phase::kStarting:
      return "starting";
    case JobDriver::Phase::kStreaming:
      return "streaming";
    case JobDriver::Phase::kDraining:
      return "draining";
    case JobDriver::Phase::kDwelling:
      return "dwelling";
    case JobDriver::Phase::kDone:
      return "done";
    case JobDriver::Phase::kStalled:
      return "stalled";
  }
  return "?";
}

// A card powers up halted, which puts the machine into emergency stop; the operator then
// clears it and presses reset, which configures the card. Ready once the emergency stop has
// stayed clear for a while after a reset.
bool JobDriver::MachineReady(uint64_t nowMs) {
  HostMachine& m = host_.records().machine();
  if (m.EStop) {
    if (nowMs - lastResetMs_ >= timing_.resetEveryMs) {
      m.EStop = 0;
      host_.Reset();
      lastResetMs_ = nowMs;
      resetDone_ = true;
    }
    return false;
  }
  if (!resetDone_) {
    if (nowMs - startMs_ < timing_.startupMs) return false;
    host_.Reset();  // a card that came up without an emergency stop is configured all the same
    lastResetMs_ = nowMs;
    resetDone_ = true;
    return false;
  }
  return nowMs - lastResetMs_ >= timing_.readyMs;
}

JobDriver::Phase JobDriver::Step(uint64_t nowMs) {
  HostMachine& m = host_.records().machine();
  HostControl& c = host_.records().control();
  Observe(nowMs);
  // The host takes note of every ended sequence and reset.
  if (m.SequenceEnded) m.SequenceEnded = 0;
  switch (phase_) {
    case Phase::kStarting:
      if (!MachineReady(nowMs) || nowMs - startMs_ < timing_.startupMs) break;
      {
        int32_t counts[kHostAxisCount];
        for (int a = 0; a < kHostAxisCount; ++a) counts[a] = m.Axes[a].PositionCounts;
        planner_.SetOrigin(counts);
      }
      stats_.motionStartMs = nowMs;
      lastProgressMs_ = nowMs;
      phase_ = Phase::kStreaming;
      [[fallthrough]];
    case Phase::kStreaming:
      if (const Planner::Status status = planner_.Fill(m, c);
          status != Planner::Status::kQueueFull) {
        drainForDwell_ = status == Planner::Status::kAtDwell;
        // The tail of the queue goes out only when the plug-in is told nothing more follows.
        c.QueueDrain = 1;
        phaseStartMs_ = nowMs;
        phase_ = Phase::kDraining;
      }
      break;
    case Phase::kDraining:
      if (!QueueSettled(nowMs)) break;
      if (drainForDwell_) {
        dwellSeconds_ = planner_.DwellSeconds();
        phaseStartMs_ = nowMs;
        phase_ = Phase::kDwelling;
        host_.DoDwell(dwellSeconds_);
      } else {
        stats_.doneMs = nowMs;
        phase_ = Phase::kDone;
      }
      break;
    case Phase::kDwelling:
      if (m.Dwelling != 0) break;
      planner_.PassDwell();
      ++stats_.dwellsDone;
      c.QueueDrain = 0;
      lastProgressMs_ = nowMs;
      phase_ = Phase::kStreaming;
      break;
    case Phase::kDone:
    case Phase::kStalled:
      break;
  }
  CheckStall(nowMs);
  return phase_;
}

void JobDriver::Observe(uint64_t nowMs) {
  const HostMachine& m = host_.records().machine();
  const HostControl& c = host_.records().control();
  if (!observed_) {
    observed_ = true;
    startMs_ = nowMs;
    lastRead_ = m.MoveQueueRead;
    lastIdle_ = c.MotionIdle;
    for (int a = 0; a < kHostAxisCount; ++a) lastCounts_[a] = m.Axes[a].PositionCounts;
    lastProgressMs_ = nowMs;
  }
  if (m.MoveQueueRead != lastRead_) {
    stats_.rowsTaken +=
        ((m.MoveQueueRead - lastRead_) % kMoveQueueSize + kMoveQueueSize) % kMoveQueueSize;
    lastRead_ = m.MoveQueueRead;
    lastReadChangeMs_ = nowMs;
    lastProgressMs_ = nowMs;
  }
  if (c.MotionIdle == 0) lastBusyMs_ = nowMs;
  if (c.MotionIdle != lastIdle_) {
    lastIdle_ = c.MotionIdle;
    lastProgressMs_ = nowMs;
  }
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (m.Axes[a].PositionCounts != lastCounts_[a]) {
      lastCounts_[a] = m.Axes[a].PositionCounts;
      lastProgressMs_ = nowMs;
    }
  }
}

// The queue is empty and the card has stopped. MotionIdle may still be 1 from before the last
// batch reached the card, so it must have held for a while since the plug-in last took
// entries and since it was last seen busy.
bool JobDriver::QueueSettled(uint64_t nowMs) const {
  const HostMachine& m = host_.records().machine();
  const HostControl& c = host_.records().control();
  if (m.MoveQueueRead != m.MoveQueueWrite || c.MotionIdle == 0) return false;
  const uint64_t since = std::max({lastReadChangeMs_, lastBusyMs_, phaseStartMs_});
  return nowMs - since >= timing_.settleMs;
}

void JobDriver::CheckStall(uint64_t nowMs) {
  if (phase_ == Phase::kStreaming || phase_ == Phase::kDraining) {
    if (nowMs - lastProgressMs_ < timing_.stallMs) return;
    const HostMachine& m = host_.records().machine();
    stallReason_ = m.MoveQueueRead != m.MoveQueueWrite
                       ? "the plug-in took no queue entries"
                       : "the plug-in did not report the end of motion (MotionIdle)";
  } else if (phase_ == Phase::kDwelling) {
    const double limitMs = dwellSeconds_ * 1000.0 + timing_.stallMs;
    if (static_cast<double>(nowMs - phaseStartMs_) < limitMs) return;
    stallReason_ = "the plug-in did not end the dwell (Dwelling)";
  } else {
    return;
  }
  stallReason_ += " for " + std::to_string(timing_.stallMs / 1000) + " s (line " +
                  std::to_string(planner_.currentLine()) + ")";
  stats_.doneMs = nowMs;
  phase_ = Phase::kStalled;
}

}  // namespace torvexan::sim
