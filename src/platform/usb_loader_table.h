// Fills the libusb call table from a symbol lookup (dlsym or GetProcAddress).
#pragma once

#include <type_traits>

#include "platform/usb_library.h"

namespace torvexan {

// Returns false when any function is missing; the table is then unusable.
template <typename Lookup>
bool FillUsbLibrary(UsbLibrary& t, Lookup lookup) {
  bool ok = true;
  auto take = [&](auto& slot, const char* name) {
    void* p = lookup(name);
    if (p == nullptr) ok = false;
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(p);
  };
  take(t.init, "libusb_init");
  take(t.set_debug, "libusb_set_debug");
  take(t.open_device_with_vid_pid, "libusb_open_device_with_vid_pid");
  take(t.claim_interface, "libusb_claim_interface");
  take(t.set_configuration, "libusb_set_configuration");
  take(t.get_device, "libusb_get_device");
  take(t.get_device_descriptor, "libusb_get_device_descriptor");
  take(t.get_string_descriptor_ascii, "libusb_get_string_descriptor_ascii");
  take(t.alloc_transfer, "libusb_alloc_transfer");
  take(t.submit_transfer, "libusb_submit_transfer");
  take(t.handle_events_timeout, "libusb_handle_events_timeout");
  take(t.free_transfer, "libusb_free_transfer");
  take(t.bulk_transfer, "libusb_bulk_transfer");
  take(t.release_interface, "libusb_release_interface");
  take(t.close, "libusb_close");
  take(t.exit, "libusb_exit");
  take(t.cancel_transfer, "libusb_cancel_transfer");
  return ok;
}

}  // namespace torvexan
