// The host's planner in the integration tests and figure programs: a smooth multi-axis path as
// fractional steps per 5 ms slice, written into the move queue as far ahead as the plug-in
// leaves room, with the exact sums it commanded.
#pragma once

#include <cmath>
#include <cstdint>

#include "state/host_records.h"
#include "integration/machine_rig.h"

namespace torvexan::testing {

inline constexpr int kSlicesPerSecond = 200;
inline constexpr int kQueueLeadSlices = 600;  // how far ahead the host's planner fills the queue

class JobFeeder {
 public:
  JobFeeder(HostWorld& host, int axes, int slices, int leadSlices = kQueueLeadSlices)
      : host_(host), axes_(axes), slices_(slices), lead_(leadSlices) {}

  // Steps of one slice: every axis swings at its own pace, so channels never move alike.
  static double SliceSteps(int slice, int axis) {
    const double t = slice * 0.005;
    const double speed = 0.7 + 0.4 * axis;  // steps per slice at the crest
    return speed * std::sin(t * (0.9 + 0.37 * axis) + axis) + 0.013 * (axis + 1);
  }

  // Tops the queue up to the lead; once the whole job is queued, asks for it to be drained.
  void Fill() {
    HostMachine& m = *host_.machine;
    HostControl& c = *host_.control;
    while (next_ < slices_) {
      if (QueuedSlices() >= lead_) return;
      const int w = m.MoveQueueWrite;
      for (int a = 0; a < kHostAxisCount; ++a) {
        const double d = a < axes_ ? SliceSteps(next_, a) : 0.0;
        c.MoveQueue[w].MoveSteps[a] = d;
        commanded_[a] += d;
      }
      m.MoveQueue[w].MoveTag = 1 + next_ / kSlicesPerSecond;  // one tag per second of motion
      m.MoveQueueWrite = (w + 1) % kMoveQueueSize;
      ++next_;
    }
    c.QueueDrain = 1;
  }

  // What a host does on an emergency stop: the rest of the job is dropped with what is queued.
  // The commanded sums then no longer say where the machine stands.
  void Abandon() {
    host_.machine->MoveQueueWrite = host_.machine->MoveQueueRead;
    next_ = slices_;
  }

  int QueuedSlices() const {
    const HostMachine& m = *host_.machine;
    return (m.MoveQueueWrite - m.MoveQueueRead + kMoveQueueSize) % kMoveQueueSize;
  }
  bool AllQueued() const { return next_ >= slices_; }
  // Everything planned has been taken by the plug-in.
  bool AllTaken() const { return AllQueued() && QueuedSlices() == 0; }
  int32_t CommandedSteps(int axis) const {
    return static_cast<int32_t>(std::lround(commanded_[axis]));
  }

 private:
  HostWorld& host_;
  int axes_;
  int slices_;
  int lead_;
  int next_ = 0;
  double commanded_[kHostAxisCount] = {};
};

// Runs the machine with the planner feeding it until the whole job has left the queue, the
// card has executed its last row and the host has seen the motion end; false on time-out.
inline bool RunJob(MachineRig& machine, JobFeeder& job, int maxTicks) {
  return machine.RunUntil(
      [&] {
        job.Fill();
        return job.AllTaken() && machine.host().control->MotionIdle == 1 &&
               machine.card().bufferedRows() == 0;
      },
      maxTicks);
}

}  // namespace torvexan::testing
