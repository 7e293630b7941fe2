#include "tools/torvexan-sim/card_process.h"

namespace torvexan::sim {

// The virtual card is a Linux program: on Windows this program starts no card of its own and
// talks to one that runs beside it (--card external), so nothing here ever runs.
bool CardProcess::Start(const std::string& program, const std::vector<std::string>&,
                        std::string* error) {
  *error = "cannot start " + program + " on Windows: run torvexan-card beside this program";
  return false;
}

void CardProcess::Poll() {}

bool CardProcess::Running() {
  return false;
}

void CardProcess::Stop() {}

}  // namespace torvexan::sim
