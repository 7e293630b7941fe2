#include "tools/torvexan-sim/probe_expectation.h"

#include <cstdlib>

#include "card/machine_layout.h"

namespace torvexan::sim {
namespace {

// The period of the trace where a probe that stopped at stoppedAt touched; trace.size() if none.
size_t TouchPeriod(const std::vector<TraceSample>& trace, const Machine& m, size_t from,
                   int32_t stoppedAt) {
  const int a = m.probeAxis;
  for (size_t k = std::max<size_t>(from, 1); k < trace.size(); ++k) {
    if (m.ProbeTouches(trace[k].physical) && !m.ProbeTouches(trace[k - 1].physical) &&
        trace[k].positions[a] == stoppedAt) {
      return k;
    }
  }
  return trace.size();
}

}  // namespace

std::vector<ProbeExpectation> ExpectProbes(const std::vector<TraceSample>& trace,
                                           const std::string& machineLayout,
                                           const std::vector<ProbeResult>& probes) {
  std::vector<ProbeExpectation> expected(probes.size());
  Machine m;
  std::string error;
  if (!ApplyMachineLayout(machineLayout, &m, &error) || !m.probeSurface.present ||
      m.probeAxis < 0 || m.probeAxis >= kMaxAxes) {
    return expected;
  }
  size_t from = 1;
  for (size_t i = 0; i < probes.size(); ++i) {
    const ProbeResult& p = probes[i];
    if (!p.contact || p.aborted) continue;
    const size_t k = TouchPeriod(trace, m, from, p.stoppedAt[m.probeAxis]);
    if (k == trace.size()) continue;
    from = k + 1;
    ProbeExpectation& e = expected[i];
    const int a = m.probeAxis;
    e.known = true;
    e.axis = a;
    e.surfaceBelow = m.probeSurface.activeBelow;
    // The counts stand as far from the machine's steps as the last load of positions left them.
    e.surfaceCounts =
        m.ProbeSurfaceAt(trace[k].physical) - (trace[k].physical[a] - trace[k].positions[a]);
    e.rowSteps = std::abs(trace[k].physical[a] - trace[k - 1].physical[a]);
  }
  return expected;
}

int32_t StepsPastSurface(const ProbeExpectation& e, int32_t measuredCounts) {
  return e.surfaceBelow ? e.surfaceCounts - measuredCounts : measuredCounts - e.surfaceCounts;
}

}  // namespace torvexan::sim
