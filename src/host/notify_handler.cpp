// Host notifications: stop, spindle start and stop, the plug-in's menu item.
#include <cmath>

#include "config/configuration_dialog.h"
#include "host/handlers.h"

namespace torvexan {

namespace {
constexpr int kStopCode = 0xFFFF;
constexpr int kSpindleOff = 4;
constexpr int kSpindleOnClockwise = 3;
constexpr int kSpindleOnCounter = 5;
constexpr double kSpindleFullScale = 1000.0;
}  // namespace

void HandleNotify(PluginState& s, int32_t code) {
  const int c = static_cast<uint16_t>(code);
  HostMachine& m = *s.host.machine;
  HostControl& control = *s.host.control;
  CardSession* session = s.session.get();
  if (c == kStopCode) {
    m.Homing = 0;
    m.ProbeRunning = 0;
    s.MotionMode = kQueueStreaming;
    control.PendingWordA = 0;
    control.PendingWordB = 0;
    if (!control.MotionIdle) s.RequestFlags |= kRequestStopMotion;
  }
  if (c == kSpindleOff && session) session->spindleValue = 0;
  if ((c == kSpindleOnClockwise || c == kSpindleOnCounter) && session) {
    if (!control.SpindlePwm) {
      session->spindleValue = 0;
    } else {
      double v = static_cast<double>(s.settings.SpindleRatio) * control.SpindleFraction;
      if (!(v > 0.0)) v = 0.0;  // also a NaN fraction
      if (v > 1.0) v = 1.0;
      session->spindleValue = static_cast<uint16_t>(v * kSpindleFullScale);
    }
  }
  // The whole menu id must match: one of 65536 or more is never the low half of a code.
  if (c == s.host.PluginMenuId && s.host.PluginMenuId != 0) {
    if (session) {
      RunConfigurationDialog(s.platform.dialogs, s.settings, s.session, s.DialogTicks);
    } else {
      s.platform.messageBox->Show("Device driver loading error.", "ERROR");
    }
  }
}

}  // namespace torvexan
