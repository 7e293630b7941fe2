#include "signals/request_dispatcher.h"

namespace torvexan {

void DispatchRequests(PluginState& s) { (void)s; }

}  // namespace torvexan
