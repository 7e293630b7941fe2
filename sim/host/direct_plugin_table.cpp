#include "sim/host/direct_plugin_table.h"

#include "host/entry_points.h"

namespace torvexan::sim {

namespace {

// A library host unloads the library after its stop; a plug-in linked into this program would
// otherwise stay stopped for good, and the next host in the process could not start it.
void StopAndUnload() {
  ::StopPlug();
  ::TorvexanUnload();
}

}  // namespace

PluginTable DirectPluginTable() {
  PluginTable t;
  t.SetProName = &::SetProName;
  t.SetDoButton = &::SetDoButton;
  t.SetSetDRO = &::SetSetDRO;
  t.SetGetDRO = &::SetGetDRO;
  t.SetGetLED = &::SetGetLED;
  t.SetSetLED = &::SetSetLED;
  t.SetCode = &::SetCode;
  t.SetGetMenuRange = &::SetGetMenuRange;
  t.InitControl = &::InitControl;
  t.PostInitControl = &::PostInitControl;
  t.Config = &::Config;
  t.StopPlug = &StopAndUnload;
  t.Update = &::Update;
  t.Notify = &::Notify;
  t.DoDwell = &::DoDwell;
  t.Reset = &::Reset;
  t.JogOn = &::JogOn;
  t.JogOff = &::JogOff;
  t.Purge = &::Purge;
  t.Probe = &::Probe;
  t.Home = &::Home;
  t.TorvexanDispatchTimers = &::TorvexanDispatchTimers;
  return t;
}

}  // namespace torvexan::sim
