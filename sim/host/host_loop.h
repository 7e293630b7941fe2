// The host's main loop, one pass at a time: Update at the host's rate, the plug-in's due
// timers, then the job. The caller owns the clock and the waiting, so tests can run it on
// virtual time and torvexan-sim on the real one.
#pragma once

#include <cstdint>

#include "sim/host/job_driver.h"
#include "sim/host/virtual_host.h"

namespace torvexan::sim {

inline constexpr uint32_t kUpdatePeriodMs = 100;  // how often the host calls Update
inline constexpr int kMaxWaitMs = 5;              // the job is looked at at least this often

class HostLoop {
 public:
  HostLoop(VirtualHost& host, JobDriver& driver) : host_(host), driver_(driver) {}

  // One pass at nowMs; returns how many milliseconds to wait before the next pass.
  int RunOnce(uint64_t nowMs);

  int64_t updates() const { return updates_; }

 private:
  VirtualHost& host_;
  JobDriver& driver_;
  bool updated_ = false;
  uint64_t nextUpdateMs_ = 0;
  int64_t updates_ = 0;
};

}  // namespace torvexan::sim
