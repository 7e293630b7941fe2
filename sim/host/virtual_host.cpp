#include "sim/host/virtual_host.h"

#include "sim/host/host_callbacks.h"
#include "sim/host/stdout_capture.h"

namespace torvexan::sim {

bool VirtualHost::Start(const std::string& settingsPath, std::string* error) {
  const char* name = plugin_.SetProName(settingsPath.c_str());
  pluginName_ = name != nullptr ? name : "";
  plugin_.SetDoButton(&HostCallbacks::DoButton);
  plugin_.SetSetDRO(&HostCallbacks::SetDro);
  plugin_.SetGetDRO(&HostCallbacks::GetDro);
  plugin_.SetGetLED(&HostCallbacks::GetLed);
  plugin_.SetSetLED(&HostCallbacks::SetLed);
  plugin_.SetCode(&HostCallbacks::Code);
  // The plug-in asks for its menu id inside InitControl, so this registration comes first.
  plugin_.SetGetMenuRange(&HostCallbacks::MenuRange);
  if (!plugin_.InitControl(&records_.machine(), &records_.doubles(), &records_.control(),
                           &records_.frame())) {
    *error = "InitControl refused the host records";
    return false;
  }
  plugin_.PostInitControl();
  started_ = true;
  return true;
}

void VirtualHost::Stop(std::string* output) {
  if (!started_) return;
  StdoutCapture capture;
  const bool capturing = output != nullptr && capture.Begin();
  plugin_.StopPlug();
  if (capturing) *output = capture.End();
  started_ = false;
}

std::string VirtualHost::PluginMenuItem() const {
  std::string label;
  uint32_t id = 0;
  return records_.mainWindow().LastPluginItem(&label, &id) ? label : std::string();
}

}  // namespace torvexan::sim
