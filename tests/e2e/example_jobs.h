// The example jobs as a soak streams them: each job file's moves planned by the simulated
// host's planner into 5 ms slices of fractional steps, ready to go into the move queue one
// after another. Only the moves: dwells, spindle and user codes, pauses, referencing and
// probing are left out (the soak does its own), and the path starts wherever the machine
// stands.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "state/host_records.h"

namespace torvexan::e2e {

struct ExampleJob {
  std::string name;
  std::vector<std::array<double, kHostAxisCount>> slices;
};

// False, with the reason, when the file cannot be read, has a bad line or a move the machine
// cannot make.
bool PlanExampleJob(const std::string& path, const HostControl& limits, ExampleJob* job,
                    std::string* error);

}  // namespace torvexan::e2e
