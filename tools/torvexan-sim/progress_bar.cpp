#include "tools/torvexan-sim/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace torvexan::sim {
namespace {

constexpr int kBarWidth = 40;  // characters
constexpr uint64_t kRedrawEveryMs = 100;

}  // namespace

ProgressBar::ProgressBar(bool enabled) : enabled_(enabled), terminal_(isatty(STDERR_FILENO)) {}

bool ProgressBar::Due(uint64_t nowMs, double fraction) const {
  if (!enabled_) return false;
  if (!terminal_)
    return static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0) / 10 != lastTenth_;
  return !shown_ || nowMs - lastShowMs_ >= kRedrawEveryMs;
}

void ProgressBar::Show(uint64_t nowMs, double fraction, const std::string& note) {
  if (!enabled_) return;
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int percent = static_cast<int>(fraction * 100.0);
  if (!terminal_) {
    const int tenth = percent / 10;
    if (tenth == lastTenth_) return;
    lastTenth_ = tenth;
    std::fprintf(stderr, "progress %3d%% %s\n", percent, note.c_str());
    return;
  }
  if (shown_ && nowMs - lastShowMs_ < kRedrawEveryMs) return;
  lastShowMs_ = nowMs;
  shown_ = true;
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  std::fprintf(stderr, "\r[%s] %3d%% %-30s", bar.c_str(), percent, note.c_str());
  std::fflush(stderr);
}

void ProgressBar::Print(const std::string& line) {
  if (enabled_ && terminal_ && shown_) std::fprintf(stderr, "\r\033[K");
  std::fprintf(stderr, "%s\n", line.c_str());
  shown_ = false;
}

void ProgressBar::Finish() {
  if (enabled_ && terminal_ && shown_) std::fprintf(stderr, "\n");
  shown_ = false;
}

}  // namespace torvexan::sim
