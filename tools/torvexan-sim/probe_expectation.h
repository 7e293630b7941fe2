// Where a probing move should have found the work: the probe surface of the machine the card
// was given, in the card's counts as they stood when the probe touched (referencing moves the
// counts' zero away from the machine's power-up position), read from the card's trace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/card_trace.h"
#include "card/machine.h"
#include "sim/host/job_driver.h"

namespace torvexan::sim {

struct ProbeExpectation {
  bool known = false;         // the trace shows the probe reaching the surface
  int axis = 2;               // the axis the probe touches along
  bool surfaceBelow = true;   // the probe trips at and below the surface
  int32_t surfaceCounts = 0;  // the first count at which the probe touches
  int32_t rowSteps = 0;       // steps of the last 5 ms row before the touch, probe axis
};

// The periods in which the probe axis reached the probe surface outside the host's stream,
// kept as the trace goes by, and the expectation of each probe from them.
class TouchLog {
 public:
  explicit TouchLog(const std::string& machineLayout);
  void Add(const TraceSample* previous, const TraceSample& s);
  std::vector<ProbeExpectation> Expect(const std::vector<ProbeResult>& probes) const;

 private:
  struct Touch {
    int32_t counts;          // the probe axis's count
    int32_t physical;        // where it stood on the machine
    int32_t physicalBefore;  // and one period before
    int32_t surface;         // the surface's step there (a tilted one moves with X and Y)
  };
  Machine machine_;
  bool usable_ = false;
  std::vector<Touch> touches_;
};

// One per probe. machineLayout: the card's machine (card/machine_layout.h). A probe matches
// the first period after the previous probe's in which the probe axis reaches the surface and
// the card's count stands where the probe stopped.
std::vector<ProbeExpectation> ExpectProbes(const std::vector<TraceSample>& trace,
                                           const std::string& machineLayout,
                                           const std::vector<ProbeResult>& probes);

// How far a measured trip lies beyond the surface, steps (negative: short of it).
int32_t StepsPastSurface(const ProbeExpectation& e, int32_t measuredCounts);

}  // namespace torvexan::sim
