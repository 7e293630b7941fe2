// Results of a resumable step: 0 and 1 mean "not finished, call again next tick".
#pragma once

namespace torvexan {

enum StepResult : int {
  kStepWaiting = 0,  // call again next tick at the same resume point
  kStepYielded = 1,  // likewise, after doing some work
  kStepExited = 2,   // stopped early; nothing done
  kStepEnded = 3,    // finished
};

constexpr bool StepFinished(int result) {
  return result >= kStepExited;
}

}  // namespace torvexan
