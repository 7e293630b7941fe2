#include "tools/torvexan-sim/card_side.h"

namespace torvexan::sim {

bool ReadyForCard(const SimOptions& options, char**, std::string* error) {
  if (options.card == CardChoice::kExternal) return true;
  *error = std::string("the virtual card ") + CardName(options.card) +
           " runs on Linux only: on Windows start torvexan-card beside this program, both in "
           "one private network, and use --card external";
  return false;
}

// An external card needs neither a private network of this program nor a card process.
bool StartCardSide(const SimOptions& options, double, const CardSideFiles&, CardProcess*,
                   std::string* error) {
  return ReadyForCard(options, nullptr, error);
}

}  // namespace torvexan::sim
