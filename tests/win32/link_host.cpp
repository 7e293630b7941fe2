// A Windows host for the real Torvexan.dll over real UDP: it loads the library as the CNC
// host does, starts it in the host's order under a window with the "PlugIn Control" menu, and
// drives Update from its message loop while the link exercise streams jobs to the card that
// answers the plug-in's discovery. Exit 0 when every check held.
//
// Run under Wine only inside a private network namespace next to torvexan-card
// (scripts/wine-link-e2e).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/entry_points.h"
#include "plugin_dll.h"
#include "sim/host/machine_setup.h"
#include "state/host_records.h"
#include "tests/e2e/link_exercise.h"
#include "tests/e2e/soak_machine.h"

namespace {

using namespace torvexan;
using namespace torvexan::win32test;

constexpr UINT_PTR kUpdateTimerId = 7;
constexpr UINT kUpdatePeriodMs = 100;
constexpr DWORD kPumpWaitMs = 5;
constexpr DWORD kReportEveryMs = 60000;  // a soak prints its figures once a minute

void PressReset(void* entryPoints) {
  static_cast<const EntryPoints*>(entryPoints)->Reset();
}

}  // namespace

int main(int argc, char** argv) {
  // The plug-in writes its diagnostic lines through the same C library: keep them in order.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  e2e::ExerciseGoals goals;
  const char* settingsPath = "link_e2e_settings.xml";
  for (int i = 1; i + 1 < argc; i += 2) {
    const int value = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--axes") == 0) goals.cardAxes = value;
    if (std::strcmp(argv[i], "--exchanges") == 0) goals.exchanges = value;
    if (std::strcmp(argv[i], "--restarts") == 0) goals.restarts = value;
    if (std::strcmp(argv[i], "--seconds") == 0)
      goals.timeLimitMs = static_cast<uint64_t>(value) * 1000;
    if (std::strcmp(argv[i], "--settings") == 0) settingsPath = argv[i + 1];
    if (std::strcmp(argv[i], "--soak") == 0) goals.soak = value != 0;
  }
  HWND window = CreatePluginHostWindow("TorvexanLinkHost", "Torvexan link host");
  HMODULE dll = ::LoadLibraryA("Torvexan.dll");
  EntryPoints e{};
  if (window == nullptr || dll == nullptr || !FindAll(dll, e)) {
    std::printf("link host: cannot set up the window or load Torvexan.dll\n");
    return 2;
  }
  e.SetProName(settingsPath);
  e.SetCode(&PrintStatus);
  e.SetGetMenuRange(&MenuRange);
  HostRecords records(window);
  HostMachine* machine = records.machine.get();
  HostControl* control = records.control.get();
  // The simulated mill; with it the card must be given the same switches (scripts/soak).
  const sim::MachineSetup setup = sim::DefaultMachine();
  sim::WriteMachineSetup(setup, *machine, *control);
  control->MotionIdle = 1;
  if (!records.InitControl(e)) {
    std::printf("link host: InitControl refused the records\n");
    return 2;
  }
  e.PostInitControl();

  e2e::LinkExercise exercise(*machine, *control, goals, &PressReset, &e);
  if (goals.soak) {
    e2e::HostActions actions;
    actions.jogOn = [](void* p, int axis, int direction, double speed) {
      static_cast<EntryPoints*>(p)->JogOn(axis, direction, speed);
    };
    actions.jogOff = [](void* p, int axis) { static_cast<EntryPoints*>(p)->JogOff(axis); };
    actions.dwell = [](void* p, double seconds) { static_cast<EntryPoints*>(p)->DoDwell(seconds); };
    actions.home = [](void* p, int axis) { static_cast<EntryPoints*>(p)->Home(axis); };
    actions.probe = [](void* p) { static_cast<EntryPoints*>(p)->Probe(); };
    actions.context = &e;
    exercise.SetActions(actions, e2e::SoakSwitches(setup, true));
  }
  ::SetTimer(window, kUpdateTimerId, kUpdatePeriodMs, nullptr);
  e.Update();
  const DWORD start = ::GetTickCount();
  DWORD nextReportMs = kReportEveryMs;
  while (!exercise.finished()) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kPumpWaitMs, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_TIMER && msg.hwnd == window && msg.wParam == kUpdateTimerId) {
        e.Update();
        continue;
      }
      ::DispatchMessageA(&msg);
    }
    const DWORD now = ::GetTickCount() - start;
    exercise.Step(now);
    if (goals.soak && now >= nextReportMs) {
      e2e::PrintSoakFigures("soak", now, exercise.figures());
      nextReportMs += kReportEveryMs;
    }
  }
  const double seconds = (::GetTickCount() - start) / 1000.0;
  ::KillTimer(window, kUpdateTimerId);
  e.StopPlug();
  ::FreeLibrary(dll);
  ::DestroyWindow(window);
  const auto& f = exercise.figures();
  if (goals.soak) {
    e2e::PrintSoakFigures("soak summary", static_cast<uint64_t>(seconds * 1000), f);
    return e2e::Violations(f) == 0 ? 0 : 1;
  }
  std::printf(
      "link-e2e host: %s after %.1f s (link up at %.1f s, ready at %.1f s, %d resets)\n"
      "link-e2e host: %s\n",
      exercise.passed() ? "PASSED" : "FAILED", seconds, f.linkUpMs / 1000.0, f.readyMs / 1000.0,
      f.resets, exercise.verdict().c_str());
  return exercise.passed() ? 0 : 1;
}
