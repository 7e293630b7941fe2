// What a job asks for that the machine cannot do, though the job still runs: feeds faster
// than the axes allow along a move (the planner moves at what they allow), and what it most
// likely did not mean: the length of another tool than the one in the spindle.
#pragma once

#include <string>
#include <vector>

#include "sim/gcode/job_interpreter.h"
#include "state/host_records.h"

namespace torvexan::sim {

inline constexpr size_t kMostFeedWarnings = 10;  // then a count of the lines left

// One text per line whose feed is above what the axes can do along its move, gathered move by
// move as the job is checked; the path starts at machine zero, as the check's does.
class FeedWarningFold {
 public:
  explicit FeedWarningFold(const HostControl& limits) : limits_(limits) {}
  void Add(const PathSegment& s);
  std::vector<std::string> Texts() const;

 private:
  const HostControl& limits_;
  double from_[kHostAxisCount] = {};
  int lastLine_ = 0;
  size_t more_ = 0;
  std::vector<std::string> warnings_;
};

// One warning per G43 or G44 whose H names a tool other than the one in the spindle: the
// last M6's, or before any M6 the last one T selected. Nothing when no tool is known yet.
// Found by the read of the whole job (JobTally).
std::vector<JobWarning> ToolLengthWarnings(const Job& job);

}  // namespace torvexan::sim
