#include <windows.h>

#include "tools/torvexan-sim/sim_paths.h"

namespace torvexan::sim {
namespace {

// The directory this program lives in.
std::string SelfDir() {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return ".";
  const std::string self(path, n);
  const size_t slash = self.find_last_of("\\/");
  return slash == std::string::npos ? "." : self.substr(0, slash);
}

}  // namespace

bool FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The build copies the DLL next to the program; a path of the Linux build tree would mean
// nothing to a Windows program, so there is no second place to look.
std::string DefaultPluginPath() {
  return SelfDir() + "\\Torvexan.dll";
}

}  // namespace torvexan::sim
