// The host side of the plug-in's life: the calls a host makes, in the host's order, through
// a table of the plug-in's exported functions.
#pragma once

#include <string>

#include "sim/host/host_records_owner.h"
#include "sim/host/plugin_table.h"

namespace torvexan::sim {

class VirtualHost {
 public:
  VirtualHost(const PluginTable& plugin, HostRecordsOwner& records)
      : plugin_(plugin), records_(records) {}

  // SetProName with the settings file, the seven callback registrations, InitControl and
  // PostInitControl. Returns false (reason in *error) when the plug-in refuses to bind.
  bool Start(const std::string& settingsPath, std::string* error);
  // StopPlug, once, and only after a start. With output, what the plug-in prints on standard
  // output meanwhile (its link counters) is caught there instead of reaching the console.
  void Stop(std::string* output = nullptr);

  void Update() { plugin_.Update(); }
  // The host's configuration request: the plug-in's modal dialog; returns its result.
  int Config() { return plugin_.Config(); }
  // Runs the plug-in's due timers; the milliseconds until the next one, -1 when none runs.
  int DispatchTimers() { return plugin_.TorvexanDispatchTimers(); }
  void DoDwell(double seconds) { plugin_.DoDwell(seconds); }
  void Reset() { plugin_.Reset(); }
  void Home(int axis) { plugin_.Home(axis); }
  void Probe() { plugin_.Probe(); }
  void Notify(int code) { plugin_.Notify(code); }

  bool started() const { return started_; }
  const std::string& pluginName() const { return pluginName_; }
  // Label of the item the plug-in added to the "PlugIn Control" menu; empty when none.
  std::string PluginMenuItem() const;
  HostRecordsOwner& records() { return records_; }

 private:
  PluginTable plugin_;
  HostRecordsOwner& records_;
  std::string pluginName_;
  bool started_ = false;
};

}  // namespace torvexan::sim
