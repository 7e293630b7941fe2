// A virtual USB bus with Pell5 cards on it, and the libusb calls the plug-in makes, answered
// from the bus: string descriptors, asynchronous transfers completed from event handling, and
// blocking bulk transfers that let the bus's clock run while they wait.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <libusb.h>

#include "card/fault_link.h"
#include "card/virtual_card.h"
#include "harness/timeline.h"
#include "platform/usb_library.h"

namespace torvexan::sim {

inline constexpr uint16_t kCardVendor = 0xA720;
inline constexpr uint16_t kCardProduct = 0xF805;
inline constexpr uint8_t kEndpointOut = 0x01;
inline constexpr uint8_t kEndpointIn = 0x81;

struct UsbCard {
  explicit UsbCard(const CardOptions& options) : card(CardModel::kPell5, options) {}
  VirtualCard card;
  uint16_t vendor = kCardVendor;
  uint16_t product = kCardProduct;
  std::string manufacturerString = "Torvexan";
  std::string productString = "Pell5 Motion Controller";
  std::string serialString = "PL5-260417-0031";
  uint8_t productIndex = 2;  // 0: the device names no product string
  uint8_t serialIndex = 3;
  bool plugged = true;
  bool openable = true;  // false: on the bus, but its driver lets nobody open it
  bool stalled = false;  // endpoints answer nothing: every transfer runs into its time-out
  FaultLink toCard{0x243F6A8885A308D3ULL};
  FaultLink fromCard{0x13198A2E03707344ULL};
  uint64_t clockMs = 0;
  // Replies waiting in the IN endpoint, oldest first.
  static constexpr int kInDepth = 8;
  uint8_t inQueue[kInDepth][64] = {};
  int inHead = 0, inCount = 0;
  int claimedBy = 0;  // open handles that claimed interface 0

  void SetFaults(const FaultShares& shares, uint64_t seed) {
    toCard.SetShares(shares);
    fromCard.SetShares(shares);
    toCard.Reseed(seed);
    fromCard.Reseed(seed * 31 + 7);
  }
};

struct UsbStats {
  uint32_t inits = 0, exits = 0, opens = 0, closes = 0, claims = 0, releases = 0;
  uint32_t submits = 0, asyncCompleted = 0, asyncTimedOut = 0;
  uint32_t bulkOut = 0, bulkIn = 0, bulkTimeouts = 0;
  uint32_t transfersAllocated = 0, transfersFreed = 0;
  // Devices closed while one of their transfers was still in flight (libusb leaves such a
  // transfer pointing at the freed handle); a careful caller keeps this 0.
  uint32_t closesWithTransferInFlight = 0, cancels = 0;
};

class VirtualUsbBus : public TimeParticipant {
 public:
  // Runs on a timeline: blocking calls advance it, which runs every other card as well.
  explicit VirtualUsbBus(Timeline& timeline);
  // Runs on a clock of the caller's choosing (the stand-alone library uses wall-clock time).
  VirtualUsbBus(std::function<uint64_t()> now, std::function<void(uint32_t)> wait);
  ~VirtualUsbBus() override;
  VirtualUsbBus(const VirtualUsbBus&) = delete;
  VirtualUsbBus& operator=(const VirtualUsbBus&) = delete;

  UsbCard& AddCard(const CardOptions& options = CardOptions{});
  UsbCard& card(int index) { return *cards_[static_cast<size_t>(index)]; }

  bool initFails = false;  // libusb_init reports an error
  const UsbStats& stats() const { return stats_; }
  int openHandles() const { return openHandles_; }
  int pendingTransfers() const { return pendingCount_; }

  // TimeParticipant
  uint64_t NextEventMs() const override;
  void RunUntil(uint64_t nowMs) override;

  // The libusb calls, as the table below forwards them.
  int Init(libusb_context** ctx);
  void Exit(libusb_context* ctx);
  libusb_device_handle* OpenDevice(uint16_t vendor, uint16_t product);
  // The plugged devices, as libusb_get_device_list hands them out: a null-terminated array
  // that FreeDeviceList takes back. Returns how many.
  ssize_t DeviceList(libusb_device*** list);
  static void FreeDeviceList(libusb_device** list);
  void CloseDevice(libusb_device_handle* h);
  int ClaimInterface(libusb_device_handle* h, int number);
  int ReleaseInterface(libusb_device_handle* h, int number);
  int SetConfiguration(libusb_device_handle* h, int configuration);
  libusb_device* DeviceOf(libusb_device_handle* h);
  int DeviceDescriptor(libusb_device* d, libusb_device_descriptor* out);
  int StringAscii(libusb_device_handle* h, uint8_t index, unsigned char* data, int length);
  libusb_transfer* AllocTransfer(int isoPackets);
  void FreeTransfer(libusb_transfer* t);
  int SubmitTransfer(libusb_transfer* t);
  int CancelTransfer(libusb_transfer* t);
  int HandleEvents(timeval* tv);
  int BulkTransfer(libusb_device_handle* h, unsigned char endpoint, unsigned char* data, int length,
                   int* transferred, unsigned int timeoutMs);

 private:
  struct Handle {
    UsbCard* card;
    bool claimed;
  };
  struct Pending {
    libusb_transfer* transfer;
    uint64_t submittedMs;
    bool cancelled;
  };
  static constexpr int kMaxPending = 8;
  static constexpr int kMaxHandles = 8;

  uint64_t Now() const { return now_(); }
  UsbCard* CardOf(libusb_device_handle* h);
  void ToCard(UsbCard& c, const unsigned char* data, int length);
  bool TakeReply(UsbCard& c, unsigned char* data, int length);
  bool TryComplete(Pending& p);

  std::function<uint64_t()> now_;
  std::function<void(uint32_t)> wait_;
  Timeline* timeline_ = nullptr;
  std::vector<std::unique_ptr<UsbCard>> cards_;
  Handle* handles_[kMaxHandles] = {};
  Pending pending_[kMaxPending] = {};
  int pendingCount_ = 0;
  int openHandles_ = 0;
  int contexts_ = 0;
  UsbStats stats_;
  FaultLink::Packet scratch_;
};

// A loader that hands the plug-in the virtual bus's calls instead of the system's libusb.
// Only one bus can stand behind the table at a time: the last one loaded.
class VirtualUsbLoader : public UsbLoader {
 public:
  explicit VirtualUsbLoader(VirtualUsbBus& bus) : bus_(bus) {}
  bool missing = false;  // behave as if libusb were not installed
  const UsbLibrary* Load() override;

 private:
  VirtualUsbBus& bus_;
};

// The bus behind the C call table; null when none is installed.
VirtualUsbBus* ActiveUsbBus();
void SetActiveUsbBus(VirtualUsbBus* bus);
// The table of C functions that forward to the active bus.
const UsbLibrary& VirtualUsbTable();

}  // namespace torvexan::sim
