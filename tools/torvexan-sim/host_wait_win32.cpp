#include "tools/torvexan-sim/host_wait.h"

#include <windows.h>

namespace torvexan::sim {

void WaitForHostEvents(int ms) {
  if (ms <= 0) return;
  // Wakes for any input of this thread, the plug-in's WM_TIMER among it; the host loop's
  // next pass dispatches it.
  ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms), QS_ALLINPUT);
}

}  // namespace torvexan::sim
