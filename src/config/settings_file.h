// The settings element inside the host's XML machine profile.
#pragma once

#include <string>

#include "state/plugin_settings.h"

namespace torvexan {

// What became of a save: the file it went to and, when nothing was written, why.
struct SettingsSaveResult {
  bool ok = true;
  std::string path;    // the settings file; empty when the host named none
  std::string reason;  // empty when ok
};

// Reads the settings from settingsPath; a missing or broken file keeps the current values.
void LoadSettings(PluginSettings& settings);
// Writes the settings back into settingsPath, changing nothing else in the file; a missing
// or broken file is left untouched and the result says so.
SettingsSaveResult SaveSettings(const PluginSettings& settings);

// One line for the user or the debug output about a save that wrote nothing.
std::string SettingsSaveReport(const SettingsSaveResult& result);

}  // namespace torvexan
