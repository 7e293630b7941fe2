// A small Windows host for the real Torvexan.dll: it loads the library like the CNC host does,
// runs the start-up sequence against a real window with a menu bar, drives Update from its
// message loop and unloads the library again. Exit code 0 means every check held.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "check.h"
#include "host/entry_points.h"
#include "plugin_dll.h"
#include "state/host_records.h"
#include "state/plugin_settings.h"

namespace {

using namespace torvexan;
using namespace torvexan::win32test;

constexpr UINT_PTR kUpdateTimerId = 7;
constexpr UINT kUpdatePeriodMs = 100;
constexpr DWORD kRunMs = 1000;
constexpr DWORD kQuietMs = 300;            // long enough for several plug-in ticks
constexpr DWORD kSelfStopMs = 1200;        // comfortably more than 22 ticks of 20 ms
constexpr int kTicksAfterLastUpdate = 22;  // the one that sees it, 20 working, 1 stopping
constexpr const char* kPluginName = "Quorvanta Motion Card Plugins V2.0";
constexpr const char* kMenuItem = "QvLorn5";

// Host callbacks; the plug-in stores the five button/DRO/LED ones and never calls them.
int menuRangeCalls = 0;
int CountingMenuRange(int count) {
  ++menuRangeCalls;
  return MenuRange(count);
}
void DoButton(int16_t) {}
void SetDro(int16_t, double) {}
double GetDro(int16_t) {
  return 0.0;
}
bool GetLed(int16_t) {
  return false;
}
void SetLed(int16_t, bool) {}

// Runs the message loop for a while, calling Update on this host's own timer when asked to,
// and counts the plug-in's ticks: this host's only timer belongs to its window, so every timer
// message without window and with a procedure is one of the plug-in's. (Wine hands over a
// handle of the procedure, not its address, so the procedure itself cannot be compared.)
struct Pump {
  HWND window;
  const EntryPoints* e;
  DWORD lastUpdateAt = 0;
  int ticksSinceUpdate = 0;

  int Run(DWORD ms, bool update) {
    if (update) ::SetTimer(window, kUpdateTimerId, kUpdatePeriodMs, nullptr);
    int ticks = 0;
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < ms) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_TIMER && msg.hwnd == window && msg.wParam == kUpdateTimerId) {
          e->Update();
          ticksSinceUpdate = 0;
          continue;
        }
        if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.lParam != 0) {
          ++ticks;
          ++ticksSinceUpdate;
        }
        ::DispatchMessageA(&msg);
      }
    }
    if (update) ::KillTimer(window, kUpdateTimerId);
    return ticks;
  }
};

// The text and id of the last item of a menu.
bool LastItem(HMENU menu, char* text, int size, UINT* id) {
  const int count = ::GetMenuItemCount(menu);
  MENUITEMINFOA item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_ID | MIIM_STRING;
  item.dwTypeData = text;
  item.cch = static_cast<UINT>(size);
  if (count <= 0 || !::GetMenuItemInfoA(menu, static_cast<UINT>(count - 1), TRUE, &item)) {
    return false;
  }
  *id = item.wID;
  return true;
}

void CheckStartupValues(const HostControl& c, const HostFrame& f) {
  const PluginSettings defaults;
  CHECK(f.MenuFlag == 0);
  CHECK(c.SpindleSpeedLimit == defaults.SpindleSpeed);
  CHECK(c.SpindleMaxSpeed == defaults.SpindleSpeed);
  // x87 arithmetic may keep extra precision in registers: compare to a few ulps.
  CHECK(std::fabs(c.FeedPerSecond - defaults.FeedRate / 60.0) < 1e-12);
  for (double r : c.RateLimits) CHECK(r == 200000.0);
  CHECK(c.CycleSeconds == 0.005);
  CHECK(c.CycleRate == 200);
  CHECK(c.HostOptionA == 1);
  CHECK(c.HostOptionB == 1);
  CHECK(c.HostOptionC == 1);
  CHECK(c.HostOptionD == 0);
}

}  // namespace

int main(int argc, char** argv) {
  const char* settingsPath = argc > 1 ? argv[1] : "smoke_settings.xml";
  HMENU pluginMenu = nullptr;
  HWND window = CreatePluginHostWindow("TorvexanSmokeHost", "Torvexan smoke host", &pluginMenu);
  if (!CHECK(window != nullptr)) return 1;
  const int pluginMenuItems = ::GetMenuItemCount(pluginMenu);

  HMODULE dll = ::LoadLibraryA("Torvexan.dll");
  if (!CHECK(dll != nullptr)) return 1;
  EntryPoints e{};
  if (!CHECK(FindAll(dll, e))) return 1;
  Pump pump{window, &e};

  // A host that calls too early gets nothing started.
  e.Update();
  e.Purge(0);
  e.JogOff(0);
  CHECK(pump.Run(kQuietMs / 3, false) == 0);

  const char* name = e.SetProName(settingsPath);
  CHECK(name != nullptr && std::strcmp(name, kPluginName) == 0);
  CHECK(e.SetDoButton(&DoButton) == &DoButton);
  CHECK(e.SetSetDRO(&SetDro) == &SetDro);
  CHECK(e.SetGetDRO(&GetDro) == &GetDro);
  CHECK(e.SetGetLED(&GetLed) == &GetLed);
  CHECK(e.SetSetLED(&SetLed) == &SetLed);
  CHECK(e.SetCode(&PrintStatus) == &PrintStatus);
  CHECK(e.SetGetMenuRange(&CountingMenuRange) == &CountingMenuRange);

  HostRecords records(window);
  records.frame->MenuFlag = 1;
  CHECK(records.InitControl(e));
  const HostControl* control = records.control.get();
  const HostFrame* frame = records.frame.get();
  CHECK(menuRangeCalls == 1);

  CHECK(e.PostInitControl() == 0);
  char text[64] = {};
  UINT id = 0;
  CHECK(::GetMenuItemCount(pluginMenu) == pluginMenuItems + 1);
  CHECK(LastItem(pluginMenu, text, sizeof text, &id));
  CHECK(std::strcmp(text, kMenuItem) == 0);
  CHECK(id == kPluginMenuId);
  CheckStartupValues(*control, *frame);

  // While the host calls Update the cycle timer keeps ticking into the plug-in.
  const int running = pump.Run(kRunMs, true);
  std::printf("plug-in ticks in %lu ms with Update every %u ms: %d\n", kRunMs, kUpdatePeriodMs,
              running);
  CHECK(running >= static_cast<int>(kRunMs / 20 / 2));
  CHECK(pump.Run(kQuietMs / 3, true) > 0);

  // Without Update the timer stops itself.
  pump.Run(kSelfStopMs, false);
  std::printf("plug-in ticks after the last Update: %d\n", pump.ticksSinceUpdate);
  CHECK(pump.ticksSinceUpdate == kTicksAfterLastUpdate);

  // The next Update starts it again.
  CHECK(pump.Run(kQuietMs, true) > 0);

  e.StopPlug();
  CHECK(pump.Run(kQuietMs, false) == 0);
  e.Update();
  CHECK(pump.Run(kQuietMs / 3, false) == 0);

  CHECK(::FreeLibrary(dll));
  pump.Run(kQuietMs / 3, false);
  ::DestroyWindow(window);
  std::printf("%s: %d failed checks\n", torvexan::wintest::Failures() ? "FAILED" : "PASSED",
              torvexan::wintest::Failures());
  return torvexan::wintest::Failures() == 0 ? 0 : 1;
}
