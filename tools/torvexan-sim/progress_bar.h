// The progress line of a running job on standard error: a bar on a terminal, a line every
// tenth of the job otherwise.
#pragma once

#include <cstdint>
#include <string>

namespace torvexan::sim {

class ProgressBar {
 public:
  explicit ProgressBar(bool enabled);

  // fraction of the job done (0..1), with a short note such as "line 12 streaming".
  void Show(uint64_t nowMs, double fraction, const std::string& note);
  // Whether Show would draw anything now: the note need not be built on every pass.
  bool Due(uint64_t nowMs, double fraction) const;
  // Prints a line of its own (a status text) without tearing the bar.
  void Print(const std::string& line);
  void Finish();

 private:
  bool enabled_;
  bool terminal_;
  bool shown_ = false;
  uint64_t lastShowMs_ = 0;
  int lastTenth_ = -1;
};

}  // namespace torvexan::sim
