// The settings element inside the host's XML machine profile.
#pragma once

#include "state/plugin_settings.h"

namespace torvexan {

// Reads the settings from settingsPath; a missing or broken file keeps the current values.
void LoadSettings(PluginSettings& settings);
// Writes the settings back into settingsPath, changing nothing else in the file; a missing
// or broken file is left untouched.
void SaveSettings(const PluginSettings& settings);

}  // namespace torvexan
