// Saves settings with Jerk 321.5 into the profile named on the command line, as whatever user
// runs it; prints the report line of a refused save and exits 1 then. The settings tests start
// it as an unprivileged user.
#include <cstdio>

#include "config/settings_file.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  torvexan::PluginSettings settings;
  settings.settingsPath = argv[1];
  settings.hasSettingsPath = true;
  torvexan::LoadSettings(settings);
  settings.Jerk = 321.5;
  const torvexan::SettingsSaveResult result = torvexan::SaveSettings(settings);
  if (result.ok) return 0;
  std::puts(torvexan::SettingsSaveReport(result).c_str());
  return 1;
}
