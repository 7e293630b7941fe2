#include "platform/win32/win32_usb_search.h"

#include <algorithm>

namespace torvexan {

namespace {

// The search flags of the loader update of Windows 7 and of every later Windows; the MinGW
// headers of older targets lack them.
constexpr DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchSystem32 = 0x00000800;    // LOAD_LIBRARY_SEARCH_SYSTEM32

std::string FolderOf(const char* path, DWORD length) {
  const std::string file(path, length);
  const size_t slash = file.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

void Add(std::vector<std::string>& folders, const std::string& folder) {
  if (folder.empty()) return;
  const auto same = [&folder](const std::string& f) {
    return ::lstrcmpiA(f.c_str(), folder.c_str()) == 0;
  };
  if (std::none_of(folders.begin(), folders.end(), same)) folders.push_back(folder);
}

HMODULE LoadFile(const std::string& file) {
  HMODULE module = ::LoadLibraryExA(file.c_str(), nullptr, kSearchDllLoadDir | kSearchSystem32);
  // A Windows without the search flags refuses them as a bad parameter. A full path is looked
  // for nowhere else, and the altered search takes the library's imports from its folder first.
  if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    module = ::LoadLibraryExA(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return module;
}

}  // namespace

std::string ModuleFolder(HMODULE module) {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(module, path, sizeof path);
  return n == 0 || n >= sizeof path ? std::string() : FolderOf(path, n);
}

std::vector<std::string> UsbLibraryFolders(const std::string& pluginFolder) {
  std::vector<std::string> folders;
  Add(folders, ModuleFolder(nullptr));
  Add(folders, pluginFolder);
  char system[MAX_PATH];
  const UINT n = ::GetSystemDirectoryA(system, sizeof system);
  if (n > 0 && n < sizeof system) Add(folders, std::string(system, n));
  return folders;
}

HMODULE LoadUsbLibrary(const std::vector<std::string>& folders, std::string* path) {
  if (path != nullptr) path->clear();
  for (const std::string& folder : folders) {
    const std::string file = folder + "\\" + kUsbLibraryFileName;
    if (::GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    if (HMODULE module = LoadFile(file)) {
      if (path != nullptr) *path = file;
      return module;
    }
  }
  return nullptr;
}

}  // namespace torvexan
