// A minimal check harness for the Windows test programs, which run under Wine without a test
// framework: each failed check prints its line, and the program's exit code counts them.
#pragma once

#include <cstdio>

namespace torvexan::wintest {

inline int& Failures() {
  static int failures = 0;
  return failures;
}

inline bool Check(bool ok, const char* what, int line) {
  if (!ok) {
    std::printf("FAIL line %d: %s\n", line, what);
    ++Failures();
  }
  return ok;
}

}  // namespace torvexan::wintest

#define CHECK(condition) ::torvexan::wintest::Check((condition), #condition, __LINE__)
