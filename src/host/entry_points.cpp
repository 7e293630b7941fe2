// The one plug-in instance and the exported functions that forward to it.
#include "host/entry_points.h"

#include <optional>

#include "host/plugin.h"
#include "platform/system_platform.h"

namespace torvexan {
namespace {

#ifdef _WIN32
void CALLBACK WindowTimerTick(HWND window, UINT message, UINT_PTR id, DWORD time);
INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
#endif

// Everything plug-in-wide lives here; created on first use by the host's first call.
struct Instance {
#ifdef _WIN32
  Instance() : system(&WindowTimerTick, &DialogProc), plugin(system.platform()) {}
#else
  Instance() : system(&Instance::Tick, this), plugin(system.platform()) {}
#endif
  static void Tick(void* context, void* window, uintptr_t id) {
    static_cast<Instance*>(context)->plugin.OnTimer(window, id);
  }
  SystemPlatform system;
  Plugin plugin;
};

// Where the one instance lives: it comes to life at the first call and ends when the library
// is unloaded (or, for a host that links the plug-in in, when that host unloads it).
std::optional<Instance>& InstanceSlot() {
  static std::optional<Instance> slot;
  return slot;
}

Instance& TheInstance() {
  std::optional<Instance>& slot = InstanceSlot();
  if (!slot) slot.emplace();
  return *slot;
}

Plugin& ThePlugin() {
  return TheInstance().plugin;
}

#ifdef _WIN32
// Windows gives a timer procedure no context: the tick goes to the one instance, which is
// alive for as long as any of its timers runs (its platform kills them when it goes away).
void CALLBACK WindowTimerTick(HWND window, UINT, UINT_PTR id, DWORD) {
  Instance::Tick(&TheInstance(), window, id);
}

// Likewise for the dialogs the plug-in opens.
INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return TheInstance().system.DialogMessage(window, message, wParam, lParam);
}
#endif

}  // namespace
}  // namespace torvexan

using torvexan::ThePlugin;

extern "C" {

#ifdef _WIN32
// The loader hands over the plug-in's own module, whose resources hold the dialog template;
// the plug-in instance comes to life here, before the host's first call.
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) torvexan::TheInstance().system.SetModule(module);
  return TRUE;
}
#endif

const char* SetProName(const char* path) {
  return ThePlugin().SetProName(path);
}

torvexan::DoButtonFn SetDoButton(torvexan::DoButtonFn fn) {
  ThePlugin().SetDoButton(fn);
  return fn;
}
torvexan::SetDroFn SetSetDRO(torvexan::SetDroFn fn) {
  ThePlugin().SetSetDRO(fn);
  return fn;
}
torvexan::GetDroFn SetGetDRO(torvexan::GetDroFn fn) {
  ThePlugin().SetGetDRO(fn);
  return fn;
}
torvexan::GetLedFn SetGetLED(torvexan::GetLedFn fn) {
  ThePlugin().SetGetLED(fn);
  return fn;
}
torvexan::SetLedFn SetSetLED(torvexan::SetLedFn fn) {
  ThePlugin().SetSetLED(fn);
  return fn;
}
torvexan::CodeCallbackFn SetCode(torvexan::CodeCallbackFn fn) {
  ThePlugin().SetCode(fn);
  return fn;
}
torvexan::MenuRangeCallbackFn SetGetMenuRange(torvexan::MenuRangeCallbackFn fn) {
  ThePlugin().SetGetMenuRange(fn);
  return fn;
}

bool InitControl(torvexan::HostMachine* machine, torvexan::HostDoubles* doubles,
                 torvexan::HostControl* control, torvexan::HostFrame* frame) {
  return ThePlugin().InitControl(machine, doubles, control, frame);
}

int PostInitControl(void) {
  return ThePlugin().PostInitControl();
}
int Config(void) {
  return ThePlugin().Config();
}
void StopPlug(void) {
  ThePlugin().StopPlug();
}
void Update(void) {
  ThePlugin().Update();
}
void Notify(int code) {
  ThePlugin().Notify(code);
}
void DoDwell(double time) {
  ThePlugin().DoDwell(time);
}
void Reset(void) {
  ThePlugin().Reset();
}
void JogOn(int axis, int direction, double speed) {
  ThePlugin().JogOn(axis, direction, speed);
}
void JogOff(int axis) {
  ThePlugin().JogOff(axis);
}
void Purge(int mask) {
  ThePlugin().Purge(mask);
}
void Probe(void) {
  ThePlugin().Probe();
}
void Home(int axis) {
  ThePlugin().Home(axis);
}

#ifndef _WIN32
int TorvexanDispatchTimers(void) {
  return torvexan::TheInstance().system.DispatchTimers();
}
void TorvexanSetDialogModel(torvexan::DialogModel* model) {
  torvexan::TheInstance().system.SetDialogModel(model);
}
void TorvexanUnload(void) {
  torvexan::InstanceSlot().reset();
}
#endif

}  // extern "C"
