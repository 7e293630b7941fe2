#include "example_jobs.h"

#include <optional>

#include "sim/gcode/gcode.h"

namespace torvexan::e2e {

bool PlanExampleJob(const std::string& path, const HostControl& limits, ExampleJob* job,
                    std::string* error) {
  sim::Job parsed;
  if (!sim::LoadJobFile(path, &parsed, error)) return false;
  const std::string name = path.substr(path.find_last_of('/') + 1);
  if (!parsed.errors.empty()) {
    *error = sim::FormatJobError(name, parsed.errors.front());
    return false;
  }
  const double referenced[kHostAxisCount] = {};
  sim::Interpreter interpreter(parsed, sim::kDefaultChordToleranceMm, referenced);
  std::vector<sim::PathSegment> run;
  while (const std::optional<sim::JobAction> action = interpreter.Next()) {
    if (action->kind == sim::JobAction::Kind::kMove) run.push_back(action->move);
  }
  if (interpreter.error()) {
    *error = sim::FormatJobError(name, *interpreter.error());
    return false;
  }
  sim::Planner planner(limits);
  const int64_t start[kHostAxisCount] = {};
  sim::JobError planError;
  if (!planner.Plan(run, start, &planError)) {
    *error = sim::FormatJobError(name, planError);
    return false;
  }
  job->name = name;
  job->slices.assign(static_cast<size_t>(planner.slices()), {});
  double before[kHostAxisCount];
  planner.PositionAt(0, before);
  for (int64_t k = 0; k < planner.slices(); ++k) {
    double after[kHostAxisCount];
    planner.PositionAt(k + 1, after);
    for (int a = 0; a < kHostAxisCount; ++a) {
      job->slices[static_cast<size_t>(k)][static_cast<size_t>(a)] = after[a] - before[a];
      before[a] = after[a];
    }
  }
  return true;
}

}  // namespace torvexan::e2e
