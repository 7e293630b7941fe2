// libusb-1.0 substitute (libusb-1.0.so.0, or a 32-bit libusb-1.0.dll for Wine): the libusb calls
// the plug-in makes, answered by a virtual Pell5 that runs in wall-clock time. Put the directory of
// this library first on the loader path and the real plug-in talks to the virtual card instead of a
// USB device.
//
// Environment (all optional):
//   TORVEXAN_USBSUB_ABSENT=1      no card on the bus
//   TORVEXAN_USBSUB_PRODUCT=text  product string    TORVEXAN_USBSUB_SERIAL=text serial string
//   TORVEXAN_USBSUB_DROP=0.1      share of transfers lost in each direction
//   TORVEXAN_USBSUB_SEED=n        seed of the fault generator
//   TORVEXAN_USBSUB_STATS=1       print the card's statistics to standard error at libusb_exit
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "harness/virtual_usb.h"

namespace {

using torvexan::sim::VirtualUsbBus;

const char* Env(const char* name) {
  return std::getenv(name);
}

// The bus lives from the first libusb_init to the end of the process.
VirtualUsbBus& Bus() {
  static std::unique_ptr<VirtualUsbBus> bus = [] {
    const auto start = std::chrono::steady_clock::now();
    auto b = std::make_unique<VirtualUsbBus>(
        [start] {
          return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count());
        },
        [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
    if (Env("TORVEXAN_USBSUB_ABSENT") == nullptr) {
      torvexan::sim::UsbCard& c = b->AddCard();
      if (const char* p = Env("TORVEXAN_USBSUB_PRODUCT")) c.productString = p;
      if (const char* s = Env("TORVEXAN_USBSUB_SERIAL")) c.serialString = s;
      torvexan::sim::FaultShares shares;
      if (const char* d = Env("TORVEXAN_USBSUB_DROP")) shares.drop = std::atof(d);
      const char* seed = Env("TORVEXAN_USBSUB_SEED");
      c.SetFaults(shares, seed ? std::strtoull(seed, nullptr, 10) : 1);
    }
    torvexan::sim::SetActiveUsbBus(b.get());
    return b;
  }();
  return *bus;
}

const torvexan::UsbLibrary& T() {
  Bus();
  return torvexan::sim::VirtualUsbTable();
}

void PrintStats() {
  VirtualUsbBus& bus = Bus();
  const auto& u = bus.stats();
  std::fprintf(stderr, "usbsub: opens %u, bulk out %u, bulk in %u, time-outs %u\n", u.opens,
               u.bulkOut, u.bulkIn, u.bulkTimeouts);
  if (Env("TORVEXAN_USBSUB_ABSENT") != nullptr) return;
  const auto& s = bus.card(0).card.stats();
  std::fprintf(stderr,
               "usbsub card: commands %u, duplicates %u, rows executed %u, underruns %u, "
               "connects %u\n",
               s.commands, s.duplicates, s.rowsExecuted, s.underruns, s.discoveries);
}

}  // namespace

#ifdef _WIN32
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

EXPORT int libusb_init(libusb_context** ctx) {
  return T().init(ctx);
}
EXPORT void libusb_set_debug(libusb_context* ctx, int level) {
  T().set_debug(ctx, level);
}
EXPORT libusb_device_handle* libusb_open_device_with_vid_pid(libusb_context* ctx, uint16_t v,
                                                             uint16_t p) {
  return T().open_device_with_vid_pid(ctx, v, p);
}
EXPORT int libusb_claim_interface(libusb_device_handle* h, int n) {
  return T().claim_interface(h, n);
}
EXPORT int libusb_set_configuration(libusb_device_handle* h, int c) {
  return T().set_configuration(h, c);
}
EXPORT libusb_device* libusb_get_device(libusb_device_handle* h) {
  return T().get_device(h);
}
EXPORT int libusb_get_device_descriptor(libusb_device* d, libusb_device_descriptor* out) {
  return T().get_device_descriptor(d, out);
}
EXPORT int libusb_get_string_descriptor_ascii(libusb_device_handle* h, uint8_t i,
                                              unsigned char* data, int length) {
  return T().get_string_descriptor_ascii(h, i, data, length);
}
EXPORT libusb_transfer* libusb_alloc_transfer(int iso) {
  return T().alloc_transfer(iso);
}
EXPORT int libusb_submit_transfer(libusb_transfer* t) {
  return T().submit_transfer(t);
}
EXPORT int libusb_handle_events_timeout(libusb_context* ctx, struct timeval* tv) {
  return T().handle_events_timeout(ctx, tv);
}
EXPORT int libusb_cancel_transfer(libusb_transfer* t) {
  return T().cancel_transfer(t);
}
EXPORT void libusb_free_transfer(libusb_transfer* t) {
  T().free_transfer(t);
}
EXPORT int libusb_bulk_transfer(libusb_device_handle* h, unsigned char ep, unsigned char* data,
                                int length, int* transferred, unsigned int timeout) {
  return T().bulk_transfer(h, ep, data, length, transferred, timeout);
}
EXPORT int libusb_release_interface(libusb_device_handle* h, int n) {
  return T().release_interface(h, n);
}
EXPORT void libusb_close(libusb_device_handle* h) {
  T().close(h);
}
EXPORT void libusb_exit(libusb_context* ctx) {
  if (Env("TORVEXAN_USBSUB_STATS") != nullptr) PrintStats();
  T().exit(ctx);
}
