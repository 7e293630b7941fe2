// What the host does while a job runs: keeps the move queue filled, lets it run empty before
// a dwell and at the end (QueueDrain), hands dwells to the plug-in, and notices when the
// plug-in stops making progress.
#pragma once

#include <cstdint>
#include <string>

#include "sim/host/planner.h"
#include "sim/host/virtual_host.h"

namespace torvexan::sim {

struct DriverTiming {
  uint32_t startupMs = 1000;    // Update and ticks only, so the link can find the card
  uint32_t resetEveryMs = 250;  // the operator presses reset at most this often while starting
  uint32_t readyMs = 500;       // emergency stop must stay clear this long after a reset
  uint32_t settleMs = 300;      // MotionIdle must hold this long with the queue empty
  uint32_t stallMs = 10000;     // no sign of progress for this long ends the job
};

struct DriverStats {
  int64_t rowsTaken = 0;  // queue entries the plug-in took (MoveQueueRead advances)
  int dwellsDone = 0;
  uint64_t motionStartMs = 0;
  uint64_t doneMs = 0;
};

class JobDriver {
 public:
  enum class Phase { kStarting, kStreaming, kDraining, kDwelling, kDone, kStalled };

  JobDriver(Planner& planner, VirtualHost& host, DriverTiming timing)
      : planner_(planner), host_(host), timing_(timing) {}

  // One pass of the host's job loop at nowMs (any monotonic millisecond clock).
  Phase Step(uint64_t nowMs);

  Phase phase() const { return phase_; }
  bool finished() const { return phase_ == Phase::kDone || phase_ == Phase::kStalled; }
  const DriverStats& stats() const { return stats_; }
  const std::string& stallReason() const { return stallReason_; }

 private:
  void Observe(uint64_t nowMs);
  bool QueueSettled(uint64_t nowMs) const;
  void CheckStall(uint64_t nowMs);
  bool MachineReady(uint64_t nowMs);

  Planner& planner_;
  VirtualHost& host_;
  DriverTiming timing_;
  Phase phase_ = Phase::kStarting;
  DriverStats stats_;
  std::string stallReason_;

  bool observed_ = false;
  uint64_t startMs_ = 0;
  int32_t lastRead_ = 0;
  HostBool lastIdle_ = 1;
  int32_t lastCounts_[kHostAxisCount] = {};
  uint64_t lastReadChangeMs_ = 0;
  uint64_t lastBusyMs_ = 0;
  uint64_t lastProgressMs_ = 0;
  uint64_t phaseStartMs_ = 0;
  uint64_t lastResetMs_ = 0;
  bool resetDone_ = false;
  double dwellSeconds_ = 0.0;
  bool drainForDwell_ = false;
};

const char* PhaseName(JobDriver::Phase phase);

}  // namespace torvexan::sim
