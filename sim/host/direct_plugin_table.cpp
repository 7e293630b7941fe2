#include "sim/host/direct_plugin_table.h"

#include "host/entry_points.h"

namespace torvexan::sim {

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
  t.StopPlug = &::StopPlug;
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
