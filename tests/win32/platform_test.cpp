// The Win32 platform layers against the real Windows API (run under Wine): sockets over the
// loopback interface, window timers, the menus of a window, the tick count and the libusb
// loader with a stand-in libusb-1.0.dll placed next to this program, and COM port names.
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "check.h"
#include "config/settings_file.h"
#include "platform/system_platform.h"
#include "platform/win32/win32_serial.h"
#include "udp_loopback_scenario.h"

namespace {

using namespace torvexan;

constexpr uint16_t kWinsockVersion = 0x0101;
constexpr uint16_t kCardPort = 41234;
constexpr DWORD kPumpMs = 300;
constexpr uint32_t kTimerPeriodMs = 20;
constexpr DWORD kTickWaitMs = 10000;  // a stopped timer never ticks, however long we wait

// Test statics: a timer procedure has no context.
int ticks = 0;
UINT_PTR lastTickId = 0;
HWND lastTickWindow = reinterpret_cast<HWND>(1);

void CALLBACK CountTick(HWND window, UINT, UINT_PTR id, DWORD) {
  ++ticks;
  lastTickId = id;
  lastTickWindow = window;
}

void PumpFor(DWORD ms) {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < ms) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
  }
}

uint32_t Loopback() {
  return htonl(INADDR_LOOPBACK);
}

void TimersTickUntilStopped() {
  SystemPlatform system(&CountTick);
  WindowTimer& timer = *system.platform().timer;
  const uintptr_t first = timer.Start(1, kTimerPeriodMs);
  const uintptr_t second = timer.Start(1, kTimerPeriodMs);
  CHECK(first != 0);
  CHECK(second != 0 && second != first);  // timers without window get ids of their own
  timer.Stop(nullptr, second);
  ticks = 0;
  // A fresh Wine prefix may still be settling on the first run: wait for the ticks, within
  // reason, rather than for a fixed time.
  const DWORD start = ::GetTickCount();
  while (ticks < 3 && ::GetTickCount() - start < kTickWaitMs) PumpFor(kTimerPeriodMs);
  CHECK(ticks >= 3);
  CHECK(lastTickId == first);
  CHECK(lastTickWindow == nullptr);
  timer.Stop(nullptr, first);
  ticks = 0;
  PumpFor(kPumpMs / 2);
  CHECK(ticks == 0);
  CHECK(system.DispatchTimers() == -1);  // the message loop runs them
}

void TimersDieWithThePlatform() {
  {
    SystemPlatform system(&CountTick);
    CHECK(system.platform().timer->Start(1, kTimerPeriodMs) != 0);
  }
  ticks = 0;
  PumpFor(kPumpMs / 2);
  CHECK(ticks == 0);
}

void ClockCountsMilliseconds() {
  SystemPlatform system(&CountTick);
  Clock& clock = *system.platform().clock;
  // Compared with the performance counter over the same span, so that a sleep cut short or
  // stretched by a loaded machine does not matter: only the unit is checked.
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  const uint32_t before = clock.TickCountMs();
  ::Sleep(200);
  const uint32_t elapsed = clock.TickCountMs() - before;
  ::QueryPerformanceCounter(&end);
  const double counterMs = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                           static_cast<double>(frequency.QuadPart);
  CHECK(counterMs > 0 && elapsed >= counterMs * 0.5 - 20 && elapsed <= counterMs * 2 + 20);
}

void MenusAreReadAndExtended() {
  SystemPlatform system(&CountTick);
  MenuBar& bar = *system.platform().menu;
  const char gbTitle[] = "\xB2\xE5\xBC\xFE\xBF\xD8\xD6\xC6";  // the GB2312 plug-in menu title
  HMENU menu = ::CreateMenu();
  HMENU file = ::CreatePopupMenu();
  HMENU plugins = ::CreatePopupMenu();
  ::AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "File");
  ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(plugins), gbTitle);
  ::AppendMenuA(menu, MF_STRING, 300, "PlugIn Control");
  HWND window = ::CreateWindowA("STATIC", "menus", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                menu, nullptr, nullptr);
  if (!CHECK(window != nullptr)) return;
  MenuHandle handle = bar.MenuOf(window);
  CHECK(handle == menu);
  CHECK(bar.ItemCount(handle) == 4);

  MenuItemInfo info{};
  uint32_t length = 0;
  CHECK(bar.ItemInfo(handle, 2, &info, nullptr, &length));
  CHECK(length == std::strlen(gbTitle));
  CHECK(info.submenu == plugins);
  char text[32];
  CHECK(bar.ItemInfo(handle, 2, &info, text, &length));
  CHECK(std::strcmp(text, gbTitle) == 0);  // the title's bytes come back unchanged

  length = 4;  // a buffer too small for the text gets a cut, terminated copy
  CHECK(bar.ItemInfo(handle, 3, &info, text, &length));
  CHECK(length == 4 && std::strcmp(text, "Plug") == 0);
  CHECK(info.id == 300 && info.submenu == nullptr);

  length = sizeof text - 1;  // a separator has no text
  std::memset(text, 'x', sizeof text);
  CHECK(bar.ItemInfo(handle, 1, &info, text, &length));
  CHECK(length == 0 && text[0] == '\0');

  CHECK(!bar.ItemInfo(handle, 9, &info, nullptr, &length));
  CHECK(bar.ItemCount(nullptr) < 0);

  CHECK(bar.AppendItem(plugins, 4711, "Quorvanta Motion Card"));
  CHECK(::GetMenuItemCount(plugins) == 1);
  CHECK(::GetMenuItemID(plugins, 0) == 4711);
  CHECK(::GetMenuStringA(plugins, 0, text, sizeof text, MF_BYPOSITION) > 0);
  CHECK(std::strcmp(text, "Quorvanta Motion Card") == 0);
  ::DestroyWindow(window);
}

void UdpOverLoopback() {
  SystemPlatform system(&CountTick);
  NetApi& net = *system.platform().net;
  uint16_t granted = 0;
  CHECK(net.Startup(kWinsockVersion, &granted) == 0);
  CHECK(granted == kWinsockVersion);

  char name[256] = {};
  CHECK(net.HostName(name, sizeof name) == 0 && name[0] != '\0');
  uint32_t addresses[8] = {};
  CHECK(net.LookupAddresses("localhost", 0, addresses, 8) >= 1);
  CHECK(addresses[0] == Loopback());
  CHECK(net.LookupAddresses("no-such-host.invalid", 0, addresses, 8) == 0);

  torvexan::testing::RunUdpLoopbackScenario(
      net, Loopback(), kCardPort, WSAEWOULDBLOCK,
      [](bool ok, const char* what) { torvexan::wintest::Check(ok, what, __LINE__); });
  net.Cleanup();
}

void UsbLibraryLoadsOnceThroughTheTable() {
  SystemPlatform system(&CountTick);
  UsbLoader& loader = *system.platform().usb;
  const UsbLibrary* usb = loader.Load();
  if (!CHECK(usb != nullptr)) return;
  CHECK(loader.Load() == usb);
  CHECK(usb->init(nullptr) == 17);
  int transferred = 0;
  unsigned char data[64];
  CHECK(usb->bulk_transfer(nullptr, 0x81, data, 64, &transferred, 10) == 0x81 + 64 + 10);
  CHECK(transferred == 64);
}

// Ports 10 and above only open by their device name; a port that is not there fails quietly.
void ComPortsOpenByDeviceName() {
  wchar_t name[kComPortNameLength];
  ComPortDeviceName(12, name);
  CHECK(std::wcscmp(name, L"\\\\.\\COM12") == 0);
  ComPortDeviceName(1, name);
  CHECK(std::wcscmp(name, L"\\\\.\\COM1") == 0);
  SystemPlatform system(&CountTick);
  SerialPort& port = *system.platform().serial;
  CHECK(!port.Open(99, 19200));
  const uint8_t byte = 0;
  CHECK(port.Write(&byte, 1) == -1);
}

}  // namespace

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The settings file is replaced through ReplaceFileW with all its digits; a read-only profile is
// refused and says so. (Wine's ReplaceFileW does not carry the original's attributes over, so
// that part is not checked here.)
void SettingsFileIsReplacedAndReadOnlyOnesRefused() {
  char folder[MAX_PATH];
  CHECK(::GetTempPathA(sizeof(folder), folder) > 0);
  const std::string path = std::string(folder) + "torvexan_profile_test.xml";
  std::ofstream(path, std::ios::binary) << "<Profile>\r\n<Other>1</Other>\r\n</Profile>";
  PluginSettings settings;
  settings.settingsPath = path;
  settings.hasSettingsPath = true;
  settings.Jerk = 1e300;
  const SettingsSaveResult saved = SaveSettings(settings);
  CHECK(saved.ok);
  const std::string after = ReadWhole(path);
  CHECK(after.rfind("<Profile>\r\n<Other>1</Other>\r\n<Torvexan>", 0) == 0);
  // 1e300 in full: 301 digits, three decimals, and it reads back as the same number.
  const size_t jerk = after.find("<Jerk>");
  CHECK(jerk != std::string::npos && after.compare(jerk + 6 + 301, 11, ".000</Jerk>") == 0);
  CHECK(after.find('\0') == std::string::npos);
  PluginSettings reloaded = settings;
  reloaded.Jerk = 0;
  LoadSettings(reloaded);
  CHECK(reloaded.Jerk == 1e300);

  CHECK(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  settings.Jerk = 7.0;
  const SettingsSaveResult refused = SaveSettings(settings);
  CHECK(!refused.ok);
  CHECK(SettingsSaveReport(refused).rfind("Torvexan: settings not saved to " + path, 0) == 0);
  CHECK(ReadWhole(path) == after);
  CHECK(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  CHECK(::DeleteFileA(path.c_str()));
}

int main() {
  TimersTickUntilStopped();
  TimersDieWithThePlatform();
  ClockCountsMilliseconds();
  MenusAreReadAndExtended();
  UdpOverLoopback();
  UsbLibraryLoadsOnceThroughTheTable();
  ComPortsOpenByDeviceName();
  SettingsFileIsReplacedAndReadOnlyOnesRefused();
  std::printf("%s: %d failed checks\n", torvexan::wintest::Failures() ? "FAILED" : "PASSED",
              torvexan::wintest::Failures());
  return torvexan::wintest::Failures() == 0 ? 0 : 1;
}
