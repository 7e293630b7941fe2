#include "sim/gcode/job_warnings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace torvexan::sim {
namespace {

constexpr double kSecondsPerMinute = 60.0;
constexpr double kFeedSlack = 1.0001;  // rounding of a feed that is just the limit

// The fastest feed (units per minute) the axes allow along from -> to; 0 for no motion.
double AxesFeed(const double* from, const double* to, const HostControl& limits) {
  double length2 = 0.0;
  for (int a = 0; a < kHostAxisCount; ++a) length2 += (to[a] - from[a]) * (to[a] - from[a]);
  if (length2 <= 0.0) return 0.0;
  const double length = std::sqrt(length2);
  double feed = INFINITY;
  for (int a = 0; a < kHostAxisCount; ++a) {
    const double share = std::fabs(to[a] - from[a]) / length;
    if (share > 0.0) feed = std::fmin(feed, limits.MaxVelocity[a] / share * kSecondsPerMinute);
  }
  return feed;
}

}  // namespace

void FeedWarningFold::Add(const PathSegment& s) {
  const double most = AxesFeed(from_, s.target, limits_);
  std::copy(s.target, s.target + kHostAxisCount, from_);
  if (s.rapid || most <= 0.0 || s.feedPerMinute <= most * kFeedSlack || s.line == lastLine_) {
    return;
  }
  lastLine_ = s.line;
  if (warnings_.size() >= kMostFeedWarnings) {
    ++more_;
    return;
  }
  char text[160];
  std::snprintf(text, sizeof text,
                "line %d: F%.0f is above what the axes can do along this move (%.0f per "
                "minute); it runs at that",
                s.line, s.feedPerMinute, most);
  warnings_.push_back(text);
}

std::vector<std::string> FeedWarningFold::Texts() const {
  std::vector<std::string> texts = warnings_;
  if (more_ > 0) texts.push_back(std::to_string(more_) + " more lines with such feeds");
  return texts;
}

std::vector<JobWarning> ToolLengthWarnings(const Job& job) {
  return job.tally.toolLength;
}

}  // namespace torvexan::sim
