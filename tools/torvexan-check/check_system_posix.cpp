#include <dlfcn.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "check_system.h"
#include "usb_device_count.h"

namespace torvexan::check {

namespace {

constexpr const char* kUsbLibraryName = "libusb-1.0.so.0";

}  // namespace

bool WaitReadable(SocketHandle s, int timeoutMs) {
  if (s == kInvalidSocket) return false;
  pollfd p{static_cast<int>(s), POLLIN, 0};
  return ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs) > 0;
}

bool LocalMask(uint32_t address, uint32_t* mask) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr) continue;
    if (i->ifa_addr->sa_family != AF_INET) continue;
    if (reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr != address) continue;
    *mask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr;
    found = true;
  }
  ::freeifaddrs(list);
  return found;
}

void ProbeUsbLibrary(UsbReport& r) {
  r.libraryName = kUsbLibraryName;
  if (const char* path = std::getenv("LD_LIBRARY_PATH"); path != nullptr && *path != '\0') {
    r.lookedIn.push_back(std::string("LD_LIBRARY_PATH ") + path);
  }
  r.lookedIn.push_back("the system's library cache (ldconfig)");
  r.libraryAdvice = "Install libusb 1.0 (Debian: libusb-1.0-0).";
  void* handle = ::dlopen(kUsbLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    r.libraryProblem = why != nullptr ? why : "not found";
    return;
  }
  r.cardDevices = CountCardDevices([handle](const char* name) { return ::dlsym(handle, name); });
  Dl_info info{};
  void* init = ::dlsym(handle, "libusb_init");
  if (init != nullptr && ::dladdr(init, &info) != 0 && info.dli_fname != nullptr) {
    r.libraryPath = info.dli_fname;
  } else {
    r.libraryPath = kUsbLibraryName;
  }
  ::dlclose(handle);
}

// A terminal outlives the programs it runs.
void WaitForKeyInOwnWindow(std::FILE*) {}

std::FILE* TakeStdoutForReport() {
  std::fflush(stdout);
  const int copy = ::dup(STDOUT_FILENO);
  std::FILE* report = copy >= 0 ? ::fdopen(copy, "w") : nullptr;
  if (report == nullptr) return stdout;
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return report;
  return report;
}

void UseFineTimer() {}

}  // namespace torvexan::check
