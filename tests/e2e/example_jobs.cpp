#include "example_jobs.h"

#include <array>
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
  // The planner takes the job's moves as the interpreter gives them.
  struct Moves final : sim::SegmentSource {
    sim::Interpreter& interpreter;
    explicit Moves(sim::Interpreter& i) : interpreter(i) {}
    bool Next(sim::PathSegment* segment) override {
      while (const std::optional<sim::JobAction> action = interpreter.Next()) {
        if (action->kind != sim::JobAction::Kind::kMove) continue;
        *segment = action->move;
        return true;
      }
      return false;
    }
  } moves(interpreter);
  sim::Planner planner(limits);
  const int64_t start[kHostAxisCount] = {};
  sim::JobError planError;
  if (!planner.Start(moves, start, &planError)) {
    *error = sim::FormatJobError(name, planError);
    return false;
  }
  job->name = name;
  job->slices.clear();
  std::array<double, kHostAxisCount> slice;
  int line = 0;
  while (planner.TakeSlice(slice.data(), &line)) job->slices.push_back(slice);
  if (interpreter.error()) {
    *error = sim::FormatJobError(name, *interpreter.error());
    return false;
  }
  if (planner.error()) {
    *error = sim::FormatJobError(name, *planner.error());
    return false;
  }
  return true;
}

}  // namespace torvexan::e2e
