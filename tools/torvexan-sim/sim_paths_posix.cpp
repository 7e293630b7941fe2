#include "tools/torvexan-sim/sim_paths.h"

#include <limits.h>
#include <unistd.h>

#include <initializer_list>

namespace torvexan::sim {
namespace {

// The directory this program lives in.
std::string SelfDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string self(path, static_cast<size_t>(n));
  const size_t slash = self.rfind('/');
  return slash == std::string::npos ? "." : self.substr(0, slash);
}

std::string FirstExisting(std::initializer_list<std::string> candidates, int mode) {
  for (const std::string& c : candidates) {
    if (access(c.c_str(), mode) == 0) return c;
  }
  return std::string();
}

}  // namespace

bool FileExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

std::string DefaultPluginPath() {
  const std::string found =
      FirstExisting({SelfDir() + "/libTorvexan.so", TORVEXAN_SIM_BUILT_PLUGIN}, R_OK);
  return found.empty() ? std::string(TORVEXAN_SIM_BUILT_PLUGIN) : found;
}

std::string DefaultCardProgram() {
  const std::string self = SelfDir();
  const std::string tools = std::string(TORVEXAN_SIM_BUILD_DIR) + "/tools";
  const std::string found =
      FirstExisting({self + "/torvexan-card", self + "/../torvexan-card/torvexan-card",
                     tools + "/torvexan-card/torvexan-card", tools + "/torvexan-card"},
                    X_OK);
  return found.empty() ? tools + "/torvexan-card/torvexan-card" : found;
}

std::string DefaultUsbLibDir() {
  const std::string build = TORVEXAN_SIM_BUILD_DIR;
  for (const std::string& dir :
       {SelfDir(), SelfDir() + "/../../sim/usbsub", build + "/sim/usbsub"}) {
    if (FileExists(dir + "/libusb-1.0.so.0")) return dir;
  }
  return std::string();
}

}  // namespace torvexan::sim
