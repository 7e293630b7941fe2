// What a job asks for that the machine cannot do, though the job still runs: feeds faster
// than the axes allow along a move (the planner moves at what they allow).
#pragma once

#include <string>
#include <vector>

#include "sim/gcode/job_interpreter.h"
#include "state/host_records.h"

namespace torvexan::sim {

inline constexpr size_t kMostFeedWarnings = 10;  // then a count of the lines left

// The same texts, gathered move by move as the job is checked.
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

// One text per line whose feed is above what the axes can do along its move; path starts at
// machine zero, as the check's path does.
std::vector<std::string> FeedWarnings(const std::vector<PathSegment>& path,
                                      const HostControl& limits);

}  // namespace torvexan::sim
