// libusb-1.0 substitute (libusb-1.0.so.0, or a 32-bit libusb-1.0.dll for Wine): the libusb calls
// the plug-in makes, answered by a virtual Pell5 that runs in wall-clock time. Put the directory of
// this library first on the loader path and the real plug-in talks to the virtual card instead of a
// USB device.
//
// Environment (all optional):
//   TORVEXAN_USBSUB_ABSENT=1      no card on the bus
//   TORVEXAN_USBSUB_NO_DRIVER=1   the card is on the bus, but no driver lets it be opened
//   TORVEXAN_USBSUB_PRODUCT=text  product string    TORVEXAN_USBSUB_SERIAL=text serial string
//   TORVEXAN_USBSUB_DROP=0.1      share of transfers lost in each direction
//   TORVEXAN_USBSUB_SEED=n        seed of the fault generator
//   TORVEXAN_USBSUB_STATS=1       print the card's statistics to standard error at libusb_exit
//   TORVEXAN_USBSUB_REPORT=path   write them to that file instead
//   TORVEXAN_USBSUB_MACHINE=txt   switches and probe surface (card/machine_layout.h)
//   TORVEXAN_USBSUB_TRACE=path    the card's state, buffer and positions every 5 ms
//   TORVEXAN_USBSUB_FAULT_EVERY=s a fault every s seconds on average, chosen at random: the
//                                 endpoints stall, the cable is pulled, or the card's
//                                 emergency-stop button is pressed
//   TORVEXAN_USBSUB_FAULT_MS=n    ... lasting up to n ms (default 1500)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "card/card_trace.h"
#include "card/machine_layout.h"
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
      if (Env("TORVEXAN_USBSUB_NO_DRIVER") != nullptr) c.openable = false;
      if (const char* s = Env("TORVEXAN_USBSUB_SERIAL")) c.serialString = s;
      torvexan::sim::FaultShares shares;
      if (const char* d = Env("TORVEXAN_USBSUB_DROP")) shares.drop = std::atof(d);
      const char* seed = Env("TORVEXAN_USBSUB_SEED");
      c.SetFaults(shares, seed ? std::strtoull(seed, nullptr, 10) : 1);
      std::string error;
      if (const char* m = Env("TORVEXAN_USBSUB_MACHINE");
          m != nullptr && !torvexan::sim::ApplyMachineLayout(m, &c.card.machine(), &error)) {
        std::fprintf(stderr, "usbsub: %s\n", error.c_str());
      }
      if (const char* path = Env("TORVEXAN_USBSUB_TRACE")) {
        // Lives as long as the process; the last lines reach the file when it exits.
        static std::FILE* file = std::fopen(path, "w");
        static torvexan::sim::TraceWriter writer(file);
        if (file != nullptr) c.card.SetPeriodObserver(&writer);
      }
    }
    torvexan::sim::SetActiveUsbBus(b.get());
    return b;
  }();
  return *bus;
}

// Stalls, disconnects and e-stop presses at random times, acted on whenever the plug-in
// calls into the library (it does so on every tick).
struct FaultCampaign {
  double everyMs = 0;
  uint32_t longestMs = 1500;
  uint64_t state = 0x2545F4914F6CDD1DULL;
  uint64_t nextMs = UINT64_MAX, endsMs = UINT64_MAX;
  int kind = -1;
  uint32_t counts[3] = {};  // stalls, disconnects, e-stop presses

  double Unit() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return static_cast<double>((state * 0x2545F4914F6CDD1DULL) >> 11) / 9007199254740992.0;
  }
  void Run(VirtualUsbBus& bus, uint64_t nowMs) {
    torvexan::sim::UsbCard& c = bus.card(0);
    if (nowMs >= endsMs) {
      c.stalled = false;
      c.plugged = true;
      c.card.machine().estop = false;
      endsMs = UINT64_MAX;
      nextMs = nowMs + static_cast<uint64_t>(-std::log(1.0 - Unit()) * everyMs);
    }
    if (nowMs < nextMs || endsMs != UINT64_MAX) return;
    kind = static_cast<int>(Unit() * 3) % 3;
    ++counts[kind];
    if (kind == 0) c.stalled = true;
    if (kind == 1) c.plugged = false;
    if (kind == 2) c.card.machine().estop = true;
    endsMs = nowMs + 100 + static_cast<uint64_t>(Unit() * longestMs);
  }
};

FaultCampaign& Campaign() {
  static FaultCampaign campaign = [] {
    FaultCampaign f;
    if (const char* every = Env("TORVEXAN_USBSUB_FAULT_EVERY")) f.everyMs = std::atof(every) * 1000;
    if (const char* ms = Env("TORVEXAN_USBSUB_FAULT_MS")) f.longestMs = std::atoi(ms);
    if (const char* seed = Env("TORVEXAN_USBSUB_SEED")) f.state ^= std::strtoull(seed, nullptr, 10);
    if (f.everyMs > 0) f.nextMs = static_cast<uint64_t>(f.everyMs);
    return f;
  }();
  return campaign;
}

const torvexan::UsbLibrary& T() {
  VirtualUsbBus& bus = Bus();
  if (Env("TORVEXAN_USBSUB_ABSENT") == nullptr) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    static const auto start = now;
    Campaign().Run(bus,
                   static_cast<uint64_t>(
                       std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count()));
  }
  return torvexan::sim::VirtualUsbTable();
}

void PrintStats(std::FILE* out) {
  VirtualUsbBus& bus = Bus();
  const auto& u = bus.stats();
  std::fprintf(out, "usbsub: opens %u, bulk out %u, bulk in %u, time-outs %u\n", u.opens, u.bulkOut,
               u.bulkIn, u.bulkTimeouts);
  if (Env("TORVEXAN_USBSUB_ABSENT") != nullptr) return;
  const auto& s = bus.card(0).card.stats();
  std::fprintf(out,
               "usbsub card: commands %u, duplicates %u, rows executed %u, underruns %u, "
               "connects %u\n",
               s.commands, s.duplicates, s.rowsExecuted, s.underruns, s.discoveries);
  // The card server's words, so that one reader takes the figures of both.
  std::fprintf(out, "  packets %u, resends %u, stale copies %u\n", s.packets, s.duplicates,
               s.stale);
  std::fprintf(out, "  home stops %u, probe trips %u, limit stops %u, rows refused %u\n",
               s.homeStops, s.probeTrips, s.limitStops, s.rowsRefused);
  const FaultCampaign& f = Campaign();
  std::fprintf(out, "usbsub faults: stalls %u, disconnects %u, e-stop presses %u\n", f.counts[0],
               f.counts[1], f.counts[2]);
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
EXPORT ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
  return Bus().DeviceList(list);
}
EXPORT void libusb_free_device_list(libusb_device** list, int) {
  VirtualUsbBus::FreeDeviceList(list);
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
  if (const char* path = Env("TORVEXAN_USBSUB_REPORT")) {
    if (std::FILE* f = std::fopen(path, "w")) {
      PrintStats(f);
      std::fclose(f);
    }
  } else if (Env("TORVEXAN_USBSUB_STATS") != nullptr) {
    PrintStats(stderr);
  }
  T().exit(ctx);
}
