// The plug-in as a host sees it: the exported functions, reached through one table of
// pointers, whether they come from a loaded library or are linked into the same program.
#pragma once

#include <string>

#include "state/host_records.h"

namespace torvexan::sim {

struct PluginTable {
  const char* (*SetProName)(const char* path) = nullptr;
  DoButtonFn (*SetDoButton)(DoButtonFn fn) = nullptr;
  SetDroFn (*SetSetDRO)(SetDroFn fn) = nullptr;
  GetDroFn (*SetGetDRO)(GetDroFn fn) = nullptr;
  GetLedFn (*SetGetLED)(GetLedFn fn) = nullptr;
  SetLedFn (*SetSetLED)(SetLedFn fn) = nullptr;
  CodeCallbackFn (*SetCode)(CodeCallbackFn fn) = nullptr;
  MenuRangeCallbackFn (*SetGetMenuRange)(MenuRangeCallbackFn fn) = nullptr;
  bool (*InitControl)(HostMachine* machine, HostDoubles* doubles, HostControl* control,
                      HostFrame* frame) = nullptr;
  int (*PostInitControl)() = nullptr;
  int (*Config)() = nullptr;
  void (*StopPlug)() = nullptr;
  void (*Update)() = nullptr;
  void (*Notify)(int code) = nullptr;
  void (*DoDwell)(double time) = nullptr;
  void (*Reset)() = nullptr;
  void (*JogOn)(int axis, int direction, double speed) = nullptr;
  void (*JogOff)(int axis) = nullptr;
  void (*Purge)(int mask) = nullptr;
  void (*Probe)() = nullptr;
  void (*Home)(int axis) = nullptr;
  // Drives the plug-in's cycle timer on hosts without Windows timers.
  int (*TorvexanDispatchTimers)() = nullptr;
};

inline constexpr int kPluginEntryCount = 22;

// Hands every slot of the table with its exported name to visit(name, slot).
template <typename Visit>
void VisitEntries(PluginTable& t, Visit&& visit) {
  visit("SetProName", t.SetProName);
  visit("SetDoButton", t.SetDoButton);
  visit("SetSetDRO", t.SetSetDRO);
  visit("SetGetDRO", t.SetGetDRO);
  visit("SetGetLED", t.SetGetLED);
  visit("SetSetLED", t.SetSetLED);
  visit("SetCode", t.SetCode);
  visit("SetGetMenuRange", t.SetGetMenuRange);
  visit("InitControl", t.InitControl);
  visit("PostInitControl", t.PostInitControl);
  visit("Config", t.Config);
  visit("StopPlug", t.StopPlug);
  visit("Update", t.Update);
  visit("Notify", t.Notify);
  visit("DoDwell", t.DoDwell);
  visit("Reset", t.Reset);
  visit("JogOn", t.JogOn);
  visit("JogOff", t.JogOff);
  visit("Purge", t.Purge);
  visit("Probe", t.Probe);
  visit("Home", t.Home);
  visit("TorvexanDispatchTimers", t.TorvexanDispatchTimers);
}

// Names of the slots still empty, separated by blanks; empty when the table is complete.
inline std::string MissingEntries(PluginTable t) {
  std::string missing;
  VisitEntries(t, [&missing](const char* name, auto slot) {
    if (slot != nullptr) return;
    if (!missing.empty()) missing += ' ';
    missing += name;
  });
  return missing;
}

}  // namespace torvexan::sim
