// The plug-in's front door: what each exported entry point does, on one plug-in state.
#pragma once

#include "host/version.h"
#include "state/plugin_state.h"

namespace torvexan {

inline constexpr const char* kPluginNameText = TORVEXAN_NAME_TEXT;

class Plugin {
 public:
  explicit Plugin(const Platform& platform) : state_(platform) {}
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;
  ~Plugin();

  const char* SetProName(const char* path);
  void SetDoButton(DoButtonFn fn) { state_.host.DoButton = fn; }
  void SetSetDRO(SetDroFn fn) { state_.host.SetDro = fn; }
  void SetGetDRO(GetDroFn fn) { state_.host.GetDro = fn; }
  void SetGetLED(GetLedFn fn) { state_.host.GetLed = fn; }
  void SetSetLED(SetLedFn fn) { state_.host.SetLed = fn; }
  void SetCode(CodeCallbackFn fn) { state_.host.CodeCallback = fn; }
  void SetGetMenuRange(MenuRangeCallbackFn fn) { state_.host.MenuRangeCallback = fn; }
  bool InitControl(HostMachine* machine, HostDoubles* doubles, HostControl* control,
                   HostFrame* frame);
  int PostInitControl();
  int Config();
  void StopPlug();
  void Update();
  void Notify(int code);
  void DoDwell(double time);
  void Reset();
  void JogOn(int axis, int direction, double speed);
  void JogOff(int axis);
  void Purge(int mask);
  void Probe();
  void Home(int axis);

  // The window-timer tick procedure.
  void OnTimer(void* window, uintptr_t id);

  PluginState& state() { return state_; }

 private:
  bool Running() const;
  void InsertMenuItem();
  void WriteStartupValues();

  PluginState state_;
};

}  // namespace torvexan
