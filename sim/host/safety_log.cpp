#include "sim/host/safety_log.h"

#include <algorithm>

namespace torvexan::sim {

void SafetyLog::Add(double seconds, int line, SafetyEvent::Source source, std::string text) {
  events_.push_back(SafetyEvent{seconds, line, source, std::move(text)});
}

std::vector<SafetyEvent> SafetyLog::Sorted() const {
  std::vector<SafetyEvent> sorted = events_;
  std::stable_sort(sorted.begin(), sorted.end(), [](const SafetyEvent& a, const SafetyEvent& b) {
    return a.seconds < b.seconds;
  });
  return sorted;
}

const char* SourceName(SafetyEvent::Source source) {
  switch (source) {
    case SafetyEvent::Source::kHost:
      return "host";
    case SafetyEvent::Source::kPlugin:
      return "plug-in";
    case SafetyEvent::Source::kCard:
      return "card";
  }
  return "?";
}

}  // namespace torvexan::sim
