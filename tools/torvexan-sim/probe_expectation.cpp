#include "tools/torvexan-sim/probe_expectation.h"

#include <cstdlib>

#include "card/machine_layout.h"

namespace torvexan::sim {
TouchLog::TouchLog(const std::string& machineLayout) {
  std::string error;
  usable_ = ApplyMachineLayout(machineLayout, &machine_, &error) && machine_.probeSurface.present &&
            machine_.probeAxis >= 0 && machine_.probeAxis < kMaxAxes;
}

// A probe touches outside the host's stream, in the period the probe axis reaches the surface.
void TouchLog::Add(const TraceSample* previous, const TraceSample& s) {
  if (!usable_ || previous == nullptr || s.state == kStreaming) return;
  const int a = machine_.probeAxis;
  if (machine_.ProbeTouches(s.physical) && !machine_.ProbeTouches(previous->physical)) {
    touches_.push_back(Touch{s.positions[a], s.physical[a], previous->physical[a],
                             machine_.ProbeSurfaceAt(s.physical)});
  }
}

// A probe matches the first touch after the previous probe's at which the card's count stood
// where the probe stopped.
std::vector<ProbeExpectation> TouchLog::Expect(const std::vector<ProbeResult>& probes) const {
  std::vector<ProbeExpectation> expected(probes.size());
  if (!usable_) return expected;
  const int a = machine_.probeAxis;
  size_t from = 0;
  for (size_t i = 0; i < probes.size(); ++i) {
    const ProbeResult& p = probes[i];
    if (!p.contact || p.aborted) continue;
    size_t k = from;
    while (k < touches_.size() && touches_[k].counts != p.stoppedAt[a]) ++k;
    if (k == touches_.size()) continue;
    from = k + 1;
    const Touch& t = touches_[k];
    ProbeExpectation& e = expected[i];
    e.known = true;
    e.axis = a;
    e.surfaceBelow = machine_.probeSurface.activeBelow;
    // The counts stand as far from the machine's steps as the last load of positions left them.
    e.surfaceCounts = t.surface - (t.physical - t.counts);
    e.rowSteps = std::abs(t.physical - t.physicalBefore);
  }
  return expected;
}

std::vector<ProbeExpectation> ExpectProbes(const std::vector<TraceSample>& trace,
                                           const std::string& machineLayout,
                                           const std::vector<ProbeResult>& probes) {
  TouchLog log(machineLayout);
  for (size_t k = 0; k < trace.size(); ++k) log.Add(k == 0 ? nullptr : &trace[k - 1], trace[k]);
  return log.Expect(probes);
}

int32_t StepsPastSurface(const ProbeExpectation& e, int32_t measuredCounts) {
  return e.surfaceBelow ? e.surfaceCounts - measuredCounts : measuredCounts - e.surfaceCounts;
}

}  // namespace torvexan::sim
