// A stand-in libusb-1.0.dll for the loader tests: the seventeen functions the plug-in looks up,
// with libusb's calling convention. libusb_init reports which context pointer it was given.
// Loaded into a process whose environment names a mark file (TORVEXAN_USB_MARK), it appends
// its own path to that file: the search test sees which copy was loaded, if any.
#include <windows.h>

#include <libusb.h>

#include <cstdio>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char mark[MAX_PATH];
  char path[MAX_PATH];
  const DWORD markLength = ::GetEnvironmentVariableA("TORVEXAN_USB_MARK", mark, sizeof mark);
  const DWORD pathLength = ::GetModuleFileNameA(self, path, sizeof path);
  if (markLength == 0 || markLength >= sizeof mark || pathLength == 0) return TRUE;
  if (std::FILE* f = std::fopen(mark, "a")) {
    std::fprintf(f, "%s\n", path);
    std::fclose(f);
  }
  return TRUE;
}

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** ctx) {
  return ctx == nullptr ? 17 : -17;
}
void LIBUSB_CALL libusb_set_debug(libusb_context*, int) {}
libusb_device_handle* LIBUSB_CALL libusb_open_device_with_vid_pid(libusb_context*, uint16_t,
                                                                  uint16_t) {
  return nullptr;
}
int LIBUSB_CALL libusb_claim_interface(libusb_device_handle*, int n) {
  return n;
}
int LIBUSB_CALL libusb_set_configuration(libusb_device_handle*, int c) {
  return c;
}
libusb_device* LIBUSB_CALL libusb_get_device(libusb_device_handle*) {
  return nullptr;
}
int LIBUSB_CALL libusb_get_device_descriptor(libusb_device*, libusb_device_descriptor*) {
  return 0;
}
int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle*, uint8_t, unsigned char*,
                                                   int length) {
  return length;
}
libusb_transfer* LIBUSB_CALL libusb_alloc_transfer(int) {
  return nullptr;
}
int LIBUSB_CALL libusb_submit_transfer(libusb_transfer*) {
  return 0;
}
int LIBUSB_CALL libusb_handle_events_timeout(libusb_context*, struct timeval*) {
  return 0;
}
void LIBUSB_CALL libusb_free_transfer(libusb_transfer*) {}
// Returns the sum of its arguments so that a caller with the wrong convention sees garbage.
int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle*, unsigned char endpoint, unsigned char*,
                                     int length, int* transferred, unsigned int timeoutMs) {
  *transferred = length;
  return endpoint + length + static_cast<int>(timeoutMs);
}
int LIBUSB_CALL libusb_release_interface(libusb_device_handle*, int n) {
  return n;
}
void LIBUSB_CALL libusb_close(libusb_device_handle*) {}
void LIBUSB_CALL libusb_exit(libusb_context*) {}
int LIBUSB_CALL libusb_cancel_transfer(libusb_transfer*) {
  return 0;
}

}  // extern "C"
