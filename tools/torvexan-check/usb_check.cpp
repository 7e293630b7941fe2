#include "usb_check.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "link/card_session.h"
#include "link/step_result.h"
#include "link/usb_transport.h"
#include "state/plugin_state.h"

namespace torvexan::check {

namespace {

// The handshake is two transfers of 10 ms at most, polled once per tick.
constexpr int kHandshakeTicks = 25;

}  // namespace

void CheckUsbCard(const Platform& platform, double tickMs, UsbReport& r) {
  PluginState s(platform);
  s.session = std::make_unique<CardSession>();
  CardSession& c = *s.session;
  std::memset(&c, 0, sizeof c);
  StartCardSession(c, s.platform);
  r.libraryLoaded = c.usb != nullptr;
  if (r.libraryLoaded && UsbOpen(c)) {
    r.opened = true;
    // The handshake opens the device afresh, reads its strings and exchanges the connect.
    s.link.TransportStep = 0;
    for (int tick = 0; tick < kHandshakeTicks && !c.online; ++tick) {
      // 0 is a failed handshake here: the device is closed again.
      const int result = UsbConnectStep(s);
      if (result == kStepEnded || result == kStepWaiting) break;
      std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(tickMs));
    }
    r.answered = c.online != 0;
    r.product.assign(c.deviceName, strnlen(c.deviceName, sizeof c.deviceName));
    r.serial.assign(c.serialText, strnlen(c.serialText, sizeof c.serialText));
    UsbCancelHandshake(s);
  }
  StopCardSession(c);
}

}  // namespace torvexan::check
