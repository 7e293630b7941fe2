// The configuration dialog.
#include "host/handlers.h"

namespace torvexan {

// The dialog window arrives with the configuration work; until then opening it ends at once
// with the dialog's usual result.
int RunConfigurationDialog(PluginState&) {
  return 0;
}

}  // namespace torvexan
