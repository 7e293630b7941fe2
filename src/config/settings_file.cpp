#include "config/settings_file.h"

namespace torvexan {

// The XML settings file arrives with the XML document library; until then the compiled
// defaults stay in force and nothing is written.
void LoadSettings(PluginSettings&) {}
void SaveSettings(const PluginSettings&) {}

}  // namespace torvexan
