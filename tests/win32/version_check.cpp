// Reads the version resource of Torvexan.dll back the way Windows does for the file's
// properties (GetFileVersionInfo, VerQueryValue) and checks what a machine builder sees there:
// version 2.0 in both the fixed and the text fields, the descriptions, and as product name the
// very text the loaded plug-in gives the host. Usage: torvexan_win32_version_check [DLL];
// the default is Torvexan.dll in the current directory. Exit code 0 means every check held.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "host/entry_points.h"

namespace {

constexpr DWORD kFixedSignature = 0xFEEF04BD;
constexpr WORD kUsEnglish = 0x0409;
constexpr WORD kUnicodeCodePage = 1200;
constexpr DWORD kVersion2_0 = MAKELONG(0, 2);  // high word major, low word minor

// One text of the string table for the given translation; empty when it is absent.
std::string VersionText(const std::vector<char>& block, WORD language, WORD codePage,
                        const char* key) {
  char path[128];
  std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", language, codePage, key);
  void* text = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(block.data(), path, &text, &length) || text == nullptr) return {};
  return std::string(static_cast<const char*>(text));
}

// The name text that SetProName of the loaded DLL hands the host.
std::string NameFromPlugin(const char* dllPath) {
  HMODULE dll = ::LoadLibraryA(dllPath);
  if (dll == nullptr) return {};
  auto setProName = reinterpret_cast<decltype(&::SetProName)>(
      reinterpret_cast<void*>(::GetProcAddress(dll, "SetProName")));
  // A settings file that does not exist leaves the defaults and is never created.
  std::string name = setProName != nullptr ? setProName("no-such-settings.xml") : "";
  ::FreeLibrary(dll);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  const char* dllPath = argc > 1 ? argv[1] : "Torvexan.dll";
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(dllPath, &ignored);
  if (!CHECK(size > 0)) {
    std::printf("version check: %s has no version resource (error %lu)\n", dllPath,
                ::GetLastError());
    return 1;
  }
  std::vector<char> block(size);
  if (!CHECK(::GetFileVersionInfoA(dllPath, 0, size, block.data()) != FALSE)) return 1;

  void* fixedData = nullptr;
  UINT fixedLength = 0;
  if (!CHECK(::VerQueryValueA(block.data(), "\\", &fixedData, &fixedLength) &&
             fixedLength >= sizeof(VS_FIXEDFILEINFO))) {
    return 1;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixedData);
  CHECK(fixed->dwSignature == kFixedSignature);
  CHECK(fixed->dwFileVersionMS == kVersion2_0 && fixed->dwFileVersionLS == 0);
  CHECK(fixed->dwProductVersionMS == kVersion2_0 && fixed->dwProductVersionLS == 0);
  CHECK(fixed->dwFileType == VFT_DLL);
  CHECK((fixed->dwFileFlags & VS_FF_DEBUG) == 0);

  // The properties page picks the string table named by the first translation.
  void* translation = nullptr;
  UINT translationLength = 0;
  if (!CHECK(::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &translation,
                              &translationLength) &&
             translationLength >= 2 * sizeof(WORD))) {
    return 1;
  }
  const WORD language = static_cast<const WORD*>(translation)[0];
  const WORD codePage = static_cast<const WORD*>(translation)[1];
  CHECK(language == kUsEnglish && codePage == kUnicodeCodePage);

  const std::string productName = VersionText(block, language, codePage, "ProductName");
  const std::string fileDescription = VersionText(block, language, codePage, "FileDescription");
  CHECK(VersionText(block, language, codePage, "FileVersion") == "2.0");
  CHECK(VersionText(block, language, codePage, "ProductVersion") == "2.0");
  CHECK(VersionText(block, language, codePage, "OriginalFilename") == "Torvexan.dll");
  CHECK(fileDescription.find("Torvexan") != std::string::npos);
  CHECK(productName == "Quorvanta Motion Card Plugins V2.0");
  CHECK(productName == NameFromPlugin(dllPath));

  std::printf("version check: %s: %s, %s, version %s: %s\n", dllPath, productName.c_str(),
              fileDescription.c_str(),
              VersionText(block, language, codePage, "FileVersion").c_str(),
              torvexan::wintest::Failures() == 0 ? "passed" : "FAILED");
  return torvexan::wintest::Failures() == 0 ? 0 : 1;
}
