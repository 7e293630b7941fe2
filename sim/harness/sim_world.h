// Everything a test needs to put the plug-in in front of virtual cards: one timeline, the
// virtual network and the virtual USB bus on it, and a libusb loader for the bus.
//
//   SimWorld world;
//   world.net.AddLocalAddress("192.168.0.10");
//   NetCard& eth = world.net.AddCard(CardModel::kLorn5, "192.168.0.50");
//   Platform p = world.Platform(&timer, &menu, &messageBox);   // net, clock, usb from here
//   ... one plug-in tick ...; world.Advance(20);               // 20 ms pass for everybody
#pragma once

#include "harness/timeline.h"
#include "harness/virtual_network.h"
#include "harness/virtual_usb.h"
#include "platform/platform.h"

namespace torvexan::sim {

struct SimWorld {
  Timeline timeline;
  VirtualNetwork net{timeline};
  VirtualUsbBus usb{timeline};
  VirtualUsbLoader usbLoader{usb};

  void Advance(uint64_t ms) { timeline.Advance(ms); }
  uint64_t now() const { return timeline.now(); }

  // A platform whose sockets, clock and libusb are the world's; the rest comes from the test
  // (no COM port and no dialogs unless the test hands them in).
  torvexan::Platform Platform(WindowTimer* timer, MenuBar* menu, MessageBox* messageBox,
                              SerialPort* serial = nullptr, DialogRunner* dialogs = nullptr) {
    return torvexan::Platform{&net,      timer,      menu,   messageBox,
                              &timeline, &usbLoader, serial, dialogs};
  }
};

}  // namespace torvexan::sim
