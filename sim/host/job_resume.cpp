// Going on after a stop as the host's run-from-here does: before the first move the host
// switches on again what the job had on when it stopped (spindle, coolant) and puts the tool,
// its length offset and the feed mode in force on the timeline. A machine that is not ready
// for that does not cut: the job ends there.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/host/coolant_outputs.h"
#include "sim/host/job_driver.h"

namespace torvexan::sim {
namespace {

constexpr int kNotifySpindleClockwise = 3;
constexpr int kNotifySpindleCounterClockwise = 5;

}  // namespace

bool JobDriver::RestoreModes(uint64_t nowMs) {
  HostMachine& m = host_.records().machine();
  HostControl& c = host_.records().control();
  StopRecord& r = stops_.back();
  const JobModes& on = r.modes;
  const bool turning =
      on.spindle == SpindleTurn::kClockwise || on.spindle == SpindleTurn::kCounterClockwise;
  const double maxSpeed = c.SpindleMaxSpeed > 0.0 ? c.SpindleMaxSpeed : 1.0;
  // The plug-in starts nothing in emergency stop, and a speed it cannot run is no restore.
  std::string cannot;
  if (m.EStop != 0) cannot = "the machine is in emergency stop again";
  if (turning && !(on.speed > 0.0)) cannot = "the spindle's speed at the stop is not known";
  if (!cannot.empty()) {
    r.notResumed = "cannot switch on again what the job had on: " + cannot;
    safety_.Add(Seconds(nowMs), r.line, SafetyEvent::Source::kHost,
                "the job does not go on: " + r.notResumed);
    resume_.clear();
    stats_.doneMs = nowMs;
    phase_ = Phase::kStopped;
    return false;
  }
  char text[200];
  const PathSegment& first = resume_.front();
  std::snprintf(text, sizeof text,
                "restores tool %d, tool length offset %.3f, feed mode G94 (per minute), F%.0f",
                first.tool, interpreter_.offsets().toolLength(), first.feedPerMinute);
  safety_.Add(Seconds(nowMs), r.line, SafetyEvent::Source::kHost, text);
  if (turning) {
    const int code = on.spindle == SpindleTurn::kClockwise ? kNotifySpindleClockwise
                                                           : kNotifySpindleCounterClockwise;
    c.SpindlePwm = 1;
    c.SpindleFraction = on.speed / maxSpeed;
    host_.Notify(code);
    std::snprintf(text, sizeof text, "restores the spindle: M%d S%.0f: Notify(%d)",
                  code == kNotifySpindleClockwise ? 3 : 4, on.speed, code);
    safety_.Add(Seconds(nowMs), r.line, SafetyEvent::Source::kHost, text);
  }
  if (on.flood || on.mist) {
    SetCoolant(m, on.flood, on.mist);
    safety_.Add(Seconds(nowMs), r.line, SafetyEvent::Source::kHost,
                std::string("restores the coolant: ") + (on.flood ? "M8 flood" : "") +
                    (on.flood && on.mist ? ", " : "") + (on.mist ? "M7 mist" : "") +
                    " (output signals on)");
  }
  modes_ = on;
  safety_.Add(Seconds(nowMs), r.line, SafetyEvent::Source::kHost,
              "waits for the spindle and the outputs: DoDwell(0.5) before the first move");
  return true;
}

// The way back to where the job goes on, from wherever referencing again left the machine:
// up to the height of that point if the machine stands below it, across at rapid, then down
// to it at the feed of the move it belongs to. Nothing when the machine is there already.
std::vector<PathSegment> JobDriver::Approach(uint64_t nowMs) {
  const HostControl& c = host_.records().control();
  const PathSegment& first = resume_.front();
  double at[kHostAxisCount];
  double to[kHostAxisCount];
  bool there = true;
  for (int a = 0; a < kHostAxisCount; ++a) {
    at[a] = static_cast<double>(expected_[a]) / c.StepsPerUnit[a];
    to[a] = std::round(resumeAt_[a]) / c.StepsPerUnit[a];
    there = there && std::llround(resumeAt_[a]) == expected_[a];
  }
  std::vector<PathSegment> moves;
  if (there) return moves;
  constexpr int kZ = 2;
  PathSegment step;
  step.line = first.line;
  step.tool = first.tool;
  step.rapid = true;
  std::copy(at, at + kHostAxisCount, step.target);
  if (at[kZ] < to[kZ]) {
    step.target[kZ] = to[kZ];
    moves.push_back(step);
  }
  std::copy(to, to + kHostAxisCount, step.target);
  step.target[kZ] = std::max(at[kZ], to[kZ]);
  moves.push_back(step);
  if (at[kZ] > to[kZ]) {
    step.rapid = false;
    step.exactStop = true;
    step.feedPerMinute = first.feedPerMinute > 0.0 ? first.feedPerMinute : 60.0;
    step.target[kZ] = to[kZ];
    moves.push_back(step);
  }
  char text[200];
  std::snprintf(text, sizeof text,
                "moves back to X %.4f Y %.4f Z %.4f on line %d, where the job goes on (across "
                "at rapid, down at the move's feed)",
                to[0], to[1], to[kZ], first.line);
  safety_.Add(Seconds(nowMs), stops_.back().line, SafetyEvent::Source::kHost, text);
  return moves;
}

}  // namespace torvexan::sim
