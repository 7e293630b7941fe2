#include <cmath>

#include "sim/gcode/gcode.h"
#include "tools/gcode-diff/move_ends.h"

namespace torvexan::gcodediff {

Outcome OurMoveEnds(const std::string& text, const std::vector<sim::ToolEntry>& tools,
                    std::string_view init) {
  Outcome out;
  const sim::Job job = sim::ParseJob(text, tools, {}, init);
  if (!job.errors.empty()) {
    out.error = sim::FormatJobError("job", job.errors.front());
    return out;
  }
  const double zero[kHostAxisCount] = {};
  sim::Interpreter interpreter(job, sim::kDefaultChordToleranceMm, zero);
  Position at = {};
  std::vector<Position> via;  // the slices of an arc so far
  sim::SpindleTurn spindle = sim::SpindleTurn::kStop;
  double rpm = 0.0;
  while (std::optional<sim::JobAction> a = interpreter.Next()) {
    if (a->kind == sim::JobAction::Kind::kSpindle) {
      spindle = a->spindle;
      rpm = a->speed;
    }
    const bool move =
        a->kind == sim::JobAction::Kind::kMove || a->kind == sim::JobAction::Kind::kProbe;
    if (!move) continue;
    Position target;
    for (int k = 0; k < kHostAxisCount; ++k) target[k] = a->move.target[k];
    if (a->move.midArc) {
      via.push_back(target);
      continue;
    }
    MoveEnd e;
    e.line = a->line;
    e.from = at;
    e.at = target;
    e.via = std::move(via);
    via.clear();
    e.spindle = spindle;
    e.rpm = rpm;
    at = target;
    out.ends.push_back(std::move(e));
  }
  if (interpreter.error()) {
    out.error = sim::FormatJobError("job", *interpreter.error());
    return out;
  }
  out.ok = true;
  return out;
}

}  // namespace torvexan::gcodediff
