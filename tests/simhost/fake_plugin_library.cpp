// A stand-in plug-in library for running torvexan-sim without a card: the recording fake
// plug-in behind the 22 exported functions, on the wall clock. A settings path containing
// "lose-a-step" makes it drop one X step, so the report must disagree.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "fake_plugin.h"

namespace {

using torvexan::sim::PluginTable;
using torvexan::sim::testing::FakePlugin;

PluginTable& Table() {
  static PluginTable table = FakePlugin::Table();
  return table;
}

uint64_t NowMs() {
  static const auto start = std::chrono::steady_clock::now();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count());
}

bool loseAStep = false;

}  // namespace

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT const char* SetProName(const char* path) {
  loseAStep = std::strstr(path, "lose-a-step") != nullptr;
  return Table().SetProName(path);
}
FAKE_EXPORT torvexan::DoButtonFn SetDoButton(torvexan::DoButtonFn f) {
  return Table().SetDoButton(f);
}
FAKE_EXPORT torvexan::SetDroFn SetSetDRO(torvexan::SetDroFn f) {
  return Table().SetSetDRO(f);
}
FAKE_EXPORT torvexan::GetDroFn SetGetDRO(torvexan::GetDroFn f) {
  return Table().SetGetDRO(f);
}
FAKE_EXPORT torvexan::GetLedFn SetGetLED(torvexan::GetLedFn f) {
  return Table().SetGetLED(f);
}
FAKE_EXPORT torvexan::SetLedFn SetSetLED(torvexan::SetLedFn f) {
  return Table().SetSetLED(f);
}
FAKE_EXPORT torvexan::CodeCallbackFn SetCode(torvexan::CodeCallbackFn f) {
  return Table().SetCode(f);
}
FAKE_EXPORT torvexan::MenuRangeCallbackFn SetGetMenuRange(torvexan::MenuRangeCallbackFn f) {
  return Table().SetGetMenuRange(f);
}
FAKE_EXPORT bool InitControl(torvexan::HostMachine* m, torvexan::HostDoubles* d,
                             torvexan::HostControl* c, torvexan::HostFrame* f) {
  return Table().InitControl(m, d, c, f);
}
FAKE_EXPORT int PostInitControl() {
  return Table().PostInitControl();
}
FAKE_EXPORT int Config() {
  return Table().Config();
}
FAKE_EXPORT void StopPlug() {
  Table().StopPlug();
  // The line the real plug-in prints, with figures the report must show as the plug-in's.
  std::printf(
      "link counters: exchanges 812, resends 7, stale replies 3, rejected replies 2, link losses "
      "1, discovery passes 4, discovery requests 8, usb opens 0, usb connects 0\n");
}
FAKE_EXPORT void Update() {
  Table().Update();
}
FAKE_EXPORT void Notify(int code) {
  Table().Notify(code);
}
FAKE_EXPORT void DoDwell(double seconds) {
  FakePlugin::W().nowMs = NowMs();
  Table().DoDwell(seconds);
}
FAKE_EXPORT void Reset() {
  Table().Reset();
}
FAKE_EXPORT void JogOn(int axis, int direction, double speed) {
  Table().JogOn(axis, direction, speed);
}
FAKE_EXPORT void JogOff(int axis) {
  Table().JogOff(axis);
}
FAKE_EXPORT void Purge(int mask) {
  Table().Purge(mask);
}
FAKE_EXPORT void Probe() {
  Table().Probe();
}
FAKE_EXPORT void Home(int axis) {
  Table().Home(axis);
}
FAKE_EXPORT int TorvexanDispatchTimers() {
  FakePlugin::World& w = FakePlugin::W();
  w.nowMs = NowMs();
  const int wait = Table().TorvexanDispatchTimers();
  // The card misses one step of the first batch.
  if (loseAStep && w.machine->MoveQueueRead != 0) {
    w.machine->Axes[0].PositionCounts -= 1;
    loseAStep = false;
  }
  return wait;
}
