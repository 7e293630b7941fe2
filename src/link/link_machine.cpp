#include "link/link_machine.h"

namespace torvexan {

int LinkTick(PluginState& s) {
  (void)s;
  return 0;
}

}  // namespace torvexan
