// LoadSettings on any file the host names: never a crash, an axis map the plug-in can drive,
// what it saves reads back as what it loaded (to the file's three decimals, huge values
// included), and saving that once more changes nothing.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "state/plugin_settings.h"
#include "config/settings_file.h"

namespace {

using namespace torvexan;

void Require(bool condition) {
  if (!condition) std::abort();
}

std::string gPath;

PluginSettings LoadFromFile() {
  PluginSettings s;
  s.settingsPath = gPath;
  s.hasSettingsPath = true;
  LoadSettings(s);
  return s;
}

// A saved value reads back as itself, to the file's three decimals.
bool Kept(double loaded, double saved) {
  if (!std::isfinite(loaded)) return std::isnan(loaded) ? std::isnan(saved) : loaded == saved;
  return std::fabs(loaded - saved) <= 5e-4 + 1e-6 * std::fabs(loaded);
}

bool KeptAll(const PluginSettings& loaded, const PluginSettings& saved) {
  for (int i = 0; i < kCardChannels; ++i) {
    if (!Kept(loaded.PullOff(i), saved.PullOff(i))) return false;
  }
  return Kept(loaded.SpindleRatio, saved.SpindleRatio) && Kept(loaded.Jerk, saved.Jerk) &&
         Kept(loaded.SpindleSpeed, saved.SpindleSpeed) && Kept(loaded.FeedRate, saved.FeedRate);
}

bool SameSettings(const PluginSettings& a, const PluginSettings& b) {
  auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
  for (int i = 0; i < kCardChannels; ++i) {
    if (a.AxisMap[i] != b.AxisMap[i] || !same(a.PullOff(i), b.PullOff(i))) return false;
  }
  return same(a.SpindleRatio, b.SpindleRatio) && a.JogBufSize == b.JogBufSize &&
         a.HomeTwice == b.HomeTwice && a.MPGDisable == b.MPGDisable && a.MultiStep == b.MultiStep &&
         same(a.SpindleSpeed, b.SpindleSpeed) && same(a.FeedRate, b.FeedRate) &&
         same(a.Jerk, b.Jerk) && a.OutputPin == b.OutputPin && a.ZDeepth == b.ZDeepth;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gPath = "/tmp/torvexan-settings-fuzz-" + std::to_string(::getpid()) + ".xml";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(gPath.c_str(), "wb");
  Require(f != nullptr);
  if (size > 0) Require(std::fwrite(data, 1, size, f) == size);
  std::fclose(f);

  const PluginSettings loaded = LoadFromFile();
  // The axis map always names host axes, X, Y and Z on the first three channels.
  for (int i = 0; i < kCardChannels; ++i) Require(loaded.AxisMap[i] >= 0 && loaded.AxisMap[i] < 6);
  Require(loaded.AxisMap[0] == 0 && loaded.AxisMap[1] == 1 && loaded.AxisMap[2] == 2);

  // The first save writes the values as the file keeps them; from then on nothing changes.
  SaveSettings(loaded);
  const PluginSettings once = LoadFromFile();
  Require(KeptAll(loaded, once));
  SaveSettings(once);
  const PluginSettings twice = LoadFromFile();
  Require(SameSettings(once, twice));
  std::remove(gPath.c_str());
  return 0;
}
