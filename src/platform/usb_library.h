// libusb-1.0, loaded at run time (libusb-1.0.dll on Windows, libusb-1.0.so.0 elsewhere) and
// called through this table. When the library is absent or libusb_init fails, USB is simply
// unavailable: the card session never opens a device and Ethernet works as before.
#pragma once

#include <libusb.h>

namespace torvexan {

struct UsbLibrary {
  int(LIBUSB_CALL* init)(libusb_context** ctx);
  void(LIBUSB_CALL* set_debug)(libusb_context* ctx, int level);
  libusb_device_handle*(LIBUSB_CALL* open_device_with_vid_pid)(libusb_context* ctx, uint16_t vendor,
                                                               uint16_t product);
  int(LIBUSB_CALL* claim_interface)(libusb_device_handle* handle, int number);
  int(LIBUSB_CALL* set_configuration)(libusb_device_handle* handle, int configuration);
  libusb_device*(LIBUSB_CALL* get_device)(libusb_device_handle* handle);
  int(LIBUSB_CALL* get_device_descriptor)(libusb_device* device,
                                          libusb_device_descriptor* descriptor);
  int(LIBUSB_CALL* get_string_descriptor_ascii)(libusb_device_handle* handle, uint8_t index,
                                                unsigned char* data, int length);
  libusb_transfer*(LIBUSB_CALL* alloc_transfer)(int isoPackets);
  int(LIBUSB_CALL* submit_transfer)(libusb_transfer* transfer);
  int(LIBUSB_CALL* handle_events_timeout)(libusb_context* ctx, struct timeval* tv);
  void(LIBUSB_CALL* free_transfer)(libusb_transfer* transfer);
  int(LIBUSB_CALL* bulk_transfer)(libusb_device_handle* handle, unsigned char endpoint,
                                  unsigned char* data, int length, int* transferred,
                                  unsigned int timeoutMs);
  int(LIBUSB_CALL* release_interface)(libusb_device_handle* handle, int number);
  void(LIBUSB_CALL* close)(libusb_device_handle* handle);
  void(LIBUSB_CALL* exit)(libusb_context* ctx);
  int(LIBUSB_CALL* cancel_transfer)(libusb_transfer* transfer);
};

class UsbLoader {
 public:
  virtual ~UsbLoader() = default;
  // Loads the library once; null when it is not installed or lacks one of the functions.
  virtual const UsbLibrary* Load() = 0;
};

}  // namespace torvexan
