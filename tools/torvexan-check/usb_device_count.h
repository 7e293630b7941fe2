// Counting the devices with the card's ids through the library's own enumeration, which the
// plug-in does not use: it tells "none plugged in" from "plugged in but not openable".
#pragma once

#include <libusb.h>

#include "link/usb_transport.h"

namespace torvexan::check {

// lookup(name) gives the library's function of that name as void*, or null. Returns the number
// of devices with the card's vendor and product ids, or -1 when the library lacks the calls
// or cannot enumerate.
template <typename Lookup>
int CountCardDevices(Lookup lookup) {
  using Init = int(LIBUSB_CALL*)(libusb_context**);
  using Exit = void(LIBUSB_CALL*)(libusb_context*);
  using List = ssize_t(LIBUSB_CALL*)(libusb_context*, libusb_device***);
  using Free = void(LIBUSB_CALL*)(libusb_device**, int);
  using Describe = int(LIBUSB_CALL*)(libusb_device*, libusb_device_descriptor*);
  const auto init = reinterpret_cast<Init>(lookup("libusb_init"));
  const auto exit = reinterpret_cast<Exit>(lookup("libusb_exit"));
  const auto list = reinterpret_cast<List>(lookup("libusb_get_device_list"));
  const auto freeList = reinterpret_cast<Free>(lookup("libusb_free_device_list"));
  const auto describe = reinterpret_cast<Describe>(lookup("libusb_get_device_descriptor"));
  if (!init || !exit || !list || !freeList || !describe) return -1;
  libusb_context* context = nullptr;  // a context of its own, apart from the plug-in's
  if (init(&context) != 0) return -1;
  libusb_device** devices = nullptr;
  const ssize_t count = list(context, &devices);
  int found = 0;
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor d{};
    if (describe(devices[i], &d) != 0) continue;
    if (d.idVendor == kCardVendorId && d.idProduct == kCardProductId) ++found;
  }
  if (count >= 0) freeList(devices, 1);
  exit(context);
  return count < 0 ? -1 : found;
}

}  // namespace torvexan::check
