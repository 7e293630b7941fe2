// windows.h first: the other system headers build on its types.
#include <windows.h>

#include <conio.h>
#include <io.h>
#include <mmsystem.h>
#include <winsock.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "check_system.h"
#include "platform/win32/win32_usb_search.h"
#include "usb_device_count.h"

namespace torvexan::check {

namespace {

constexpr uint16_t kMachineI386 = 0x014C;  // IMAGE_FILE_MACHINE_I386
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr long kPeOffsetField = 0x3C;  // where the DOS header keeps the PE header's offset

std::string Joined(const std::string& dir, const char* name) {
  if (dir.empty()) return name;
  const char last = dir.back();
  return dir + (last == '\\' || last == '/' ? "" : "\\") + name;
}

// The machine a DLL was built for, read from its PE header; 0 when unreadable.
uint16_t DllMachine(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  uint32_t peOffset = 0;
  uint8_t signature[4] = {};
  uint16_t machine = 0;
  const bool ok = std::fseek(f, kPeOffsetField, SEEK_SET) == 0 &&
                  std::fread(&peOffset, sizeof peOffset, 1, f) == 1 &&
                  std::fseek(f, static_cast<long>(peOffset), SEEK_SET) == 0 &&
                  std::fread(signature, sizeof signature, 1, f) == 1 &&
                  std::memcmp(signature, "PE\0\0", 4) == 0 &&
                  std::fread(&machine, sizeof machine, 1, f) == 1;
  std::fclose(f);
  return ok ? machine : 0;
}

}  // namespace

std::string UsbPluginFolder() {
  return ModuleFolder(nullptr) + "\\PlugIns";
}

bool WaitReadable(SocketHandle s, int timeoutMs) {
  if (s == kInvalidSocket) return false;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(s), &set);
  timeval wait{0, (timeoutMs < 0 ? 0 : timeoutMs) * 1000};
  return ::select(0, &set, nullptr, nullptr, &wait) > 0;
}

void ProbeUsbLibrary(UsbReport& r) {
  r.libraryName = kUsbLibraryFileName;
  r.libraryAdvice =
      "Put the 32-bit libusb-1.0.dll next to Mach3.exe (or in the folder for 32-bit system "
      "libraries: SysWOW64 on 64-bit Windows, System32 otherwise), then check again. The "
      "current folder and the PATH are never searched.";
  r.lookedIn = UsbLibraryFolders(UsbPluginFolder());
  HMODULE module = LoadUsbLibrary(r.lookedIn, &r.libraryPath);
  if (module != nullptr) {
    r.cardDevices = CountCardDevices([module](const char* name) {
      return reinterpret_cast<void*>(::GetProcAddress(module, name));
    });
    ::FreeLibrary(module);
    return;
  }
  // Not loadable: say whether a copy in those folders is the wrong kind.
  for (const std::string& dir : r.lookedIn) {
    const std::string candidate = Joined(dir, kUsbLibraryFileName);
    if (::GetFileAttributesA(candidate.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    const uint16_t machine = DllMachine(candidate);
    r.libraryPath = candidate;
    r.libraryProblem = machine == kMachineAmd64
                           ? "it is a 64-bit library: Mach3 is a 32-bit program "
                             "and needs the 32-bit libusb-1.0.dll"
                       : machine == kMachineI386 ? "it is 32-bit but Windows could not load it"
                                                 : "it is not a Windows library";
    return;
  }
  r.libraryProblem = "not found";
}

std::FILE* TakeStdoutForReport() {
  std::fflush(stdout);
  const int copy = ::_dup(_fileno(stdout));
  std::FILE* report = copy >= 0 ? ::_fdopen(copy, "w") : nullptr;
  if (report == nullptr) return stdout;
  if (std::freopen("NUL", "w", stdout) == nullptr) return report;
  return report;
}

void WaitForKeyInOwnWindow(std::FILE* report) {
  DWORD processes[2];
  if (::GetConsoleProcessList(processes, 2) != 1) return;  // a command prompt shares it
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(input, &mode)) return;  // input from a file or pipe: nobody to ask
  std::fputs("\nPress any key to close this window.\n", report);
  std::fflush(report);
  ::FlushConsoleInputBuffer(input);  // a key pressed during the check does not count
  ::_getch();
}

void UseFineTimer() {
  ::timeBeginPeriod(1);
}

}  // namespace torvexan::check
