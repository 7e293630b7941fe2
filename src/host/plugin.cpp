#include "host/plugin.h"

#include <cstdio>

#include "config/configuration_dialog.h"
#include "config/settings_file.h"
#include "host/handlers.h"
#include "host/menu_insertion.h"
#include "host/timer_cycle.h"
#include "link/card_session.h"
#include "link/link_counters.h"
#include "link/usb_transport.h"
#include "platform/debug_output.h"

namespace torvexan {

namespace {

constexpr double kRateLimit = 200000.0;
constexpr double kCycleSeconds = 0.005;  // one row is a 5 ms slice
constexpr int32_t kCycleRate = 200;
constexpr const char* kDriverErrorText = "Device driver loading error.";
constexpr const char* kDriverErrorCaption = "ERROR";

}  // namespace

Plugin::~Plugin() {
  // A host that unloads without StopPlug must not leave sockets or devices behind.
  if (state_.session) {
    UsbCancelHandshake(state_);
    StopCardSession(*state_.session);
  }
}

bool Plugin::Running() const {
  return state_.lifecycle == Lifecycle::kRunning;
}

const char* Plugin::SetProName(const char* path) {
  if (path != nullptr && state_.lifecycle != Lifecycle::kStopped) {
    state_.settings.settingsPath = path;
    state_.settings.hasSettingsPath = true;
    LoadSettings(state_.settings);
  }
  return kPluginNameText;
}

bool Plugin::InitControl(HostMachine* machine, HostDoubles* doubles, HostControl* control,
                         HostFrame* frame) {
  if (state_.lifecycle != Lifecycle::kLoaded) return state_.lifecycle != Lifecycle::kStopped;
  if (!machine || !doubles || !control || !frame) return false;
  HostBinding& h = state_.host;
  h.machine = machine;
  h.doubles = doubles;
  h.control = control;
  h.frame = frame;
  h.PluginMenuId = h.MenuRangeCallback != nullptr ? h.MenuRangeCallback(1) : 0;
  frame->MenuFlag = 0;
  state_.lifecycle = Lifecycle::kInitialised;
  return true;
}

int Plugin::PostInitControl() {
  if (state_.lifecycle != Lifecycle::kInitialised && state_.lifecycle != Lifecycle::kRunning) {
    return 0;
  }
  // A second call must not add a second menu item.
  if (!state_.menuInserted && state_.host.MenuRangeCallback != nullptr) {
    state_.menuInserted = InsertPluginMenuItem(*state_.platform.menu, state_.host.frame->MainWindow,
                                               static_cast<uint32_t>(state_.host.PluginMenuId));
  }
  WriteStartupValues();
  state_.cycle.UpdateSeen = false;
  for (double& r : state_.motion.StepRemainders) r = 0.0;
  if (!state_.session) {
    state_.session = std::make_unique<CardSession>();
    *state_.session = CardSession{};
    StartCardSession(*state_.session, state_.platform);
  }
  state_.link.LinkStep = 0;
  state_.motion.MotionStep = 0;
  state_.requests.RequestFlags = 0;
  state_.motion.MotionMode = kQueueStreaming;
  state_.lifecycle = Lifecycle::kRunning;
  return 0;
}

void Plugin::WriteStartupValues() {
  HostControl& c = *state_.host.control;
  const PluginSettings& p = state_.settings;
  c.SpindleSpeedLimit = p.SpindleSpeed;
  c.SpindleMaxSpeed = p.SpindleSpeed;
  c.FeedPerSecond = static_cast<double>(p.FeedRate) / 60.0;
  for (double& limit : c.RateLimits) limit = kRateLimit;
  c.CycleSeconds = kCycleSeconds;
  c.CycleRate = kCycleRate;
  c.HostOptionA = 1;
  c.HostOptionB = 1;
  c.HostOptionC = 1;
  c.HostOptionD = 0;
}

int Plugin::Config() {
  if (state_.session && Running()) {
    return RunConfigurationDialog(state_.platform.dialogs, state_.settings, state_.session,
                                  state_.DialogTicks, state_.platform.messageBox);
  }
  return state_.platform.messageBox->Show(kDriverErrorText, kDriverErrorCaption);
}

void Plugin::StopPlug() {
  if (state_.session) {
    const SettingsSaveResult saved = SaveSettings(state_.settings);
    if (!saved.ok) WriteDebugLine(SettingsSaveReport(saved));
    // The session's link history, for whoever reads the host's console after a bad run.
    PrintLinkCounters(stdout, state_.session->counters);
    // The device closes below: no transfer of the handshake may still be in flight on it.
    UsbCancelHandshake(state_);
    StopCardSession(*state_.session);
    state_.session.reset();
  }
  // The library may be unloaded next: no timer may call into it any more.
  if (state_.cycle.timerId != 0) {
    state_.platform.timer->Stop(nullptr, state_.cycle.timerId);
    state_.cycle.timerId = 0;
  }
  state_.lifecycle = Lifecycle::kStopped;
}

void Plugin::Update() {
  if (Running()) NoteUpdate(state_);
}

void Plugin::OnTimer(void* window, uintptr_t id) {
  CycleTick(state_, window, id);
}

void Plugin::Notify(int code) {
  if (Running()) HandleNotify(state_, code);
}

void Plugin::DoDwell(double time) {
  if (Running()) HandleDoDwell(state_, time);
}

void Plugin::Reset() {
  if (Running()) HandleReset(state_);
}

void Plugin::JogOn(int axis, int direction, double speed) {
  if (Running())
    HandleJogOn(state_, static_cast<int16_t>(axis), static_cast<int16_t>(direction), speed);
}

void Plugin::JogOff(int axis) {
  if (Running()) HandleJogOff(state_, static_cast<int16_t>(axis));
}

void Plugin::Purge(int mask) {
  if (Running()) HandlePurge(state_, static_cast<int16_t>(mask));
}

void Plugin::Probe() {
  if (Running()) HandleProbe(state_);
}

void Plugin::Home(int axis) {
  if (Running()) HandleHome(state_, static_cast<int16_t>(axis));
}

}  // namespace torvexan
