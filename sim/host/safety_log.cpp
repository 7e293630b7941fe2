#include "sim/host/safety_log.h"

#include <algorithm>

namespace torvexan::sim {

void SafetyLog::Add(double seconds, int line, SafetyEvent::Source source, std::string text) {
  // What the host does in answer to a status text happens after the plug-in's call returned,
  // which on a virtual bus may have let time pass beyond the start of the host's pass.
  if (!events_.empty()) seconds = std::max(seconds, events_.back().seconds);
  events_.push_back(SafetyEvent{seconds, line, source, std::move(text)});
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
