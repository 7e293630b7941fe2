// Host notifications: stop, spindle start and stop, the plug-in's menu item, and the user codes
// that set a register on a Modbus device at the host's COM port.
#include <cmath>

#include "config/configuration_dialog.h"
#include "host/handlers.h"
#include "host/modbus_frame.h"

namespace torvexan {

namespace {
constexpr int kStopCode = 0xFFFF;
constexpr int kSpindleOff = 4;
constexpr int kSpindleOnClockwise = 3;
constexpr int kSpindleOnCounter = 5;
constexpr double kSpindleFullScale = 1000.0;
constexpr int32_t kFirstUserCode = 101;
constexpr int32_t kLastUserCode = 227;
constexpr int32_t kUserCodeBase = 100;  // register value = code - 100

// Writes code - 100 to the device's register, opening the port for this one frame. A port
// that cannot be had sends nothing and says nothing.
void SendUserCode(PluginState& s, int32_t code) {
  SerialPort* port = s.platform.serial;
  if (port == nullptr) return;
  if (!port->Open(s.host.control->ComPort, s.host.control->ComBaud)) return;
  uint8_t frame[kRegisterWriteLength];
  BuildRegisterWrite(static_cast<uint16_t>(code - kUserCodeBase), frame);
  (void)port->Write(frame, kRegisterWriteLength);
  port->Close();
}
}  // namespace

void HandleNotify(PluginState& s, int32_t code) {
  const int c = static_cast<uint16_t>(code);
  HostMachine& m = *s.host.machine;
  HostControl& control = *s.host.control;
  CardSession* session = s.session.get();
  if (c == kStopCode) {
    m.Homing = 0;
    m.ProbeRunning = 0;
    s.motion.MotionMode = kQueueStreaming;
    control.PendingWordA = 0;
    control.PendingWordB = 0;
    if (!control.MotionIdle) s.requests.RequestFlags |= kRequestStopMotion;
  }
  if (c == kSpindleOff && session) session->spindleValue = 0;
  if ((c == kSpindleOnClockwise || c == kSpindleOnCounter) && session) {
    // In emergency stop nothing may start; the operator's reset comes first.
    if (!control.SpindlePwm || m.EStop) {
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
      RunConfigurationDialog(s.platform.dialogs, s.settings, s.session, s.DialogTicks,
                             s.platform.messageBox);
    } else {
      s.platform.messageBox->Show("Device driver loading error.", "ERROR");
    }
  }
  // Unlike the events above, the whole 32-bit code must lie in the range.
  if (code >= kFirstUserCode && code <= kLastUserCode) SendUserCode(s, code);
}

}  // namespace torvexan
