#include "tools/torvexan-sim/host_wait.h"

#include <time.h>

#include <cerrno>

namespace torvexan::sim {

void WaitForHostEvents(int ms) {
  if (ms <= 0) return;
  timespec t{0, ms * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

}  // namespace torvexan::sim
