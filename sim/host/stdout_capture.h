// Catches what a library call prints on standard output: file descriptor 1 points at a
// temporary file while the capture runs. Whatever the process printed earlier is flushed to
// the real output first, so only the call's own output is caught.
#pragma once

#include <string>

namespace torvexan::sim {

class StdoutCapture {
 public:
  StdoutCapture() = default;
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  ~StdoutCapture();  // restores standard output if End was not called

  // false when standard output could not be redirected (nothing is caught then).
  bool Begin();
  // Restores standard output and returns what was printed in between.
  std::string End();

 private:
  int savedFd_ = -1;
  int captureFd_ = -1;
};

}  // namespace torvexan::sim
