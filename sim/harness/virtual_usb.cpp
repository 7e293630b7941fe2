#include "harness/virtual_usb.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace torvexan::sim {

namespace {

constexpr int kPacket = usb::kPacketLength;
constexpr int kMaxStringChars = 126;  // a string descriptor holds at most this many characters

}  // namespace

VirtualUsbBus::VirtualUsbBus(Timeline& timeline)
    : now_([&timeline] { return timeline.now(); }),
      wait_([&timeline](uint32_t ms) { timeline.Advance(ms); }),
      timeline_(&timeline) {
  timeline.Add(this);
}

VirtualUsbBus::VirtualUsbBus(std::function<uint64_t()> now, std::function<void(uint32_t)> wait)
    : now_(std::move(now)), wait_(std::move(wait)) {}

VirtualUsbBus::~VirtualUsbBus() {
  if (timeline_ != nullptr) timeline_->Remove(this);
  if (ActiveUsbBus() == this) SetActiveUsbBus(nullptr);
  for (int i = 0; i < kMaxHandles; ++i) delete handles_[i];
}

UsbCard& VirtualUsbBus::AddCard(const CardOptions& options) {
  cards_.push_back(std::make_unique<UsbCard>(options));
  cards_.back()->clockMs = Now();
  return *cards_.back();
}

UsbCard* VirtualUsbBus::CardOf(libusb_device_handle* h) {
  for (int i = 0; i < kMaxHandles; ++i)
    if (handles_[i] != nullptr && reinterpret_cast<libusb_device_handle*>(handles_[i]) == h)
      return handles_[i]->card;
  return nullptr;
}

uint64_t VirtualUsbBus::NextEventMs() const {
  uint64_t next = UINT64_MAX;
  for (const auto& c : cards_) next = std::min({next, c->toCard.NextDue(), c->fromCard.NextDue()});
  return next;
}

void VirtualUsbBus::RunUntil(uint64_t nowMs) {
  uint8_t reply[kPacket];
  for (auto& c : cards_) {
    if (nowMs > c->clockMs) {
      c->card.Advance(static_cast<uint32_t>(nowMs - c->clockMs));
      c->clockMs = nowMs;
    }
    bool moved = true;
    while (moved) {
      moved = false;
      while (c->toCard.TakeDue(nowMs, scratch_)) {
        moved = true;
        if (c->plugged && c->card.HandleUsbPacket(scratch_.bytes, scratch_.length, reply) > 0)
          c->fromCard.Send(nowMs, reply, kPacket, 0);
      }
      while (c->fromCard.TakeDue(nowMs, scratch_)) {
        moved = true;
        if (!c->plugged) continue;
        // A full endpoint FIFO loses its oldest reply.
        if (c->inCount == UsbCard::kInDepth) {
          c->inHead = (c->inHead + 1) % UsbCard::kInDepth;
          --c->inCount;
        }
        std::memcpy(c->inQueue[(c->inHead + c->inCount) % UsbCard::kInDepth], scratch_.bytes,
                    kPacket);
        ++c->inCount;
      }
    }
  }
}

void VirtualUsbBus::ToCard(UsbCard& c, const unsigned char* data, int length) {
  c.toCard.Send(Now(), data, length, 0);
  RunUntil(Now());
}

bool VirtualUsbBus::TakeReply(UsbCard& c, unsigned char* data, int length) {
  RunUntil(Now());
  if (c.inCount == 0) return false;
  std::memcpy(data, c.inQueue[c.inHead], static_cast<size_t>(std::min(length, kPacket)));
  c.inHead = (c.inHead + 1) % UsbCard::kInDepth;
  --c.inCount;
  return true;
}

int VirtualUsbBus::Init(libusb_context** ctx) {
  ++stats_.inits;
  if (initFails) return LIBUSB_ERROR_OTHER;
  ++contexts_;
  if (ctx != nullptr) *ctx = reinterpret_cast<libusb_context*>(this);
  return 0;
}

void VirtualUsbBus::Exit(libusb_context*) {
  ++stats_.exits;
  if (contexts_ > 0) --contexts_;
}

libusb_device_handle* VirtualUsbBus::OpenDevice(uint16_t vendor, uint16_t product) {
  for (auto& c : cards_) {
    if (!c->plugged || c->vendor != vendor || c->product != product) continue;
    if (!c->openable) return nullptr;
    for (int i = 0; i < kMaxHandles; ++i) {
      if (handles_[i] != nullptr) continue;
      handles_[i] = new Handle{c.get(), false};
      ++openHandles_;
      ++stats_.opens;
      return reinterpret_cast<libusb_device_handle*>(handles_[i]);
    }
    return nullptr;
  }
  return nullptr;
}

void VirtualUsbBus::CloseDevice(libusb_device_handle* h) {
  for (int i = 0; i < kMaxHandles; ++i) {
    if (handles_[i] == nullptr || reinterpret_cast<libusb_device_handle*>(handles_[i]) != h)
      continue;
    if (handles_[i]->claimed) --handles_[i]->card->claimedBy;
    delete handles_[i];
    handles_[i] = nullptr;
    --openHandles_;
    ++stats_.closes;
    // Transfers of a closed handle end as if the device had gone.
    for (int p = 0; p < pendingCount_;) {
      if (pending_[p].transfer->dev_handle == h) {
        ++stats_.closesWithTransferInFlight;
        pending_[p] = pending_[--pendingCount_];
      } else {
        ++p;
      }
    }
    return;
  }
}

int VirtualUsbBus::ClaimInterface(libusb_device_handle* h, int number) {
  for (int i = 0; i < kMaxHandles; ++i) {
    Handle* s = handles_[i];
    if (s == nullptr || reinterpret_cast<libusb_device_handle*>(s) != h) continue;
    if (number != 0) return LIBUSB_ERROR_NOT_FOUND;
    if (!s->card->plugged) return LIBUSB_ERROR_NO_DEVICE;
    if (!s->claimed && s->card->claimedBy > 0) return LIBUSB_ERROR_BUSY;
    if (!s->claimed) ++s->card->claimedBy;
    s->claimed = true;
    ++stats_.claims;
    return 0;
  }
  return LIBUSB_ERROR_INVALID_PARAM;
}

int VirtualUsbBus::ReleaseInterface(libusb_device_handle* h, int number) {
  for (int i = 0; i < kMaxHandles; ++i) {
    Handle* s = handles_[i];
    if (s == nullptr || reinterpret_cast<libusb_device_handle*>(s) != h) continue;
    if (number != 0 || !s->claimed) return LIBUSB_ERROR_NOT_FOUND;
    s->claimed = false;
    --s->card->claimedBy;
    ++stats_.releases;
    return 0;
  }
  return LIBUSB_ERROR_INVALID_PARAM;
}

int VirtualUsbBus::SetConfiguration(libusb_device_handle* h, int configuration) {
  UsbCard* c = CardOf(h);
  if (c == nullptr || !c->plugged) return LIBUSB_ERROR_NO_DEVICE;
  return configuration == 1 || configuration == -1 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

ssize_t VirtualUsbBus::DeviceList(libusb_device*** list) {
  std::vector<libusb_device*> plugged;
  for (auto& c : cards_) {
    if (c->plugged) plugged.push_back(reinterpret_cast<libusb_device*>(c.get()));
  }
  *list = new libusb_device*[plugged.size() + 1];
  std::copy(plugged.begin(), plugged.end(), *list);
  (*list)[plugged.size()] = nullptr;
  return static_cast<ssize_t>(plugged.size());
}

void VirtualUsbBus::FreeDeviceList(libusb_device** list) {
  delete[] list;
}

libusb_device* VirtualUsbBus::DeviceOf(libusb_device_handle* h) {
  return reinterpret_cast<libusb_device*>(CardOf(h));
}

int VirtualUsbBus::DeviceDescriptor(libusb_device* d, libusb_device_descriptor* out) {
  for (auto& c : cards_) {
    if (reinterpret_cast<libusb_device*>(c.get()) != d) continue;
    *out = libusb_device_descriptor{};
    out->bLength = LIBUSB_DT_DEVICE_SIZE;
    out->bDescriptorType = LIBUSB_DT_DEVICE;
    out->bcdUSB = 0x0200;
    out->bMaxPacketSize0 = 64;
    out->idVendor = c->vendor;
    out->idProduct = c->product;
    out->bcdDevice = 0x0100;
    out->iManufacturer = 1;
    out->iProduct = c->productIndex;
    out->iSerialNumber = c->serialIndex;
    out->bNumConfigurations = 1;
    return 0;
  }
  return LIBUSB_ERROR_NO_DEVICE;
}

int VirtualUsbBus::StringAscii(libusb_device_handle* h, uint8_t index, unsigned char* data,
                               int length) {
  UsbCard* c = CardOf(h);
  if (c == nullptr || !c->plugged) return LIBUSB_ERROR_NO_DEVICE;
  if (index == 0 || length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
  const std::string* text = index == 1                 ? &c->manufacturerString
                            : index == c->productIndex ? &c->productString
                            : index == c->serialIndex  ? &c->serialString
                                                       : nullptr;
  if (text == nullptr) return LIBUSB_ERROR_PIPE;  // the device stalls an unknown index
  // As libusb does: at most length - 1 characters, then a NUL.
  const int n = std::min({static_cast<int>(text->size()), kMaxStringChars, length - 1});
  std::memcpy(data, text->data(), static_cast<size_t>(n));
  data[n] = 0;
  return n;
}

libusb_transfer* VirtualUsbBus::AllocTransfer(int isoPackets) {
  const size_t size = sizeof(libusb_transfer) + static_cast<size_t>(std::max(isoPackets, 0)) *
                                                    sizeof(libusb_iso_packet_descriptor);
  auto* t = static_cast<libusb_transfer*>(std::calloc(1, size));
  if (t != nullptr) {
    t->num_iso_packets = isoPackets;
    ++stats_.transfersAllocated;
  }
  return t;
}

void VirtualUsbBus::FreeTransfer(libusb_transfer* t) {
  if (t == nullptr) return;
  for (int p = 0; p < pendingCount_; ++p) {
    if (pending_[p].transfer == t) {
      pending_[p] = pending_[--pendingCount_];
      break;
    }
  }
  ++stats_.transfersFreed;
  std::free(t);
}

int VirtualUsbBus::SubmitTransfer(libusb_transfer* t) {
  UsbCard* c = CardOf(t->dev_handle);
  if (c == nullptr || !c->plugged) return LIBUSB_ERROR_NO_DEVICE;
  if (t->type != LIBUSB_TRANSFER_TYPE_BULK) return LIBUSB_ERROR_NOT_SUPPORTED;
  for (int p = 0; p < pendingCount_; ++p)
    if (pending_[p].transfer == t) return LIBUSB_ERROR_BUSY;
  if (pendingCount_ == kMaxPending) return LIBUSB_ERROR_BUSY;
  pending_[pendingCount_++] = Pending{t, Now(), false};
  ++stats_.submits;
  return 0;
}

int VirtualUsbBus::CancelTransfer(libusb_transfer* t) {
  ++stats_.cancels;
  for (int p = 0; p < pendingCount_; ++p) {
    if (pending_[p].transfer != t) continue;
    pending_[p].cancelled = true;
    return 0;
  }
  return LIBUSB_ERROR_NOT_FOUND;
}

// Ends a submitted transfer if it was cancelled, its device has answered or its time is up.
bool VirtualUsbBus::TryComplete(Pending& p) {
  libusb_transfer* t = p.transfer;
  if (p.cancelled) {
    t->status = LIBUSB_TRANSFER_CANCELLED;
    t->actual_length = 0;
    return true;
  }
  UsbCard* c = CardOf(t->dev_handle);
  const bool timedOut = t->timeout != 0 && Now() - p.submittedMs >= t->timeout;
  if (c == nullptr || !c->plugged) {
    t->status = LIBUSB_TRANSFER_NO_DEVICE;
    t->actual_length = 0;
    return true;
  }
  if (!c->stalled) {
    if ((t->endpoint & LIBUSB_ENDPOINT_IN) == 0) {
      ToCard(*c, t->buffer, t->length);
      t->status = LIBUSB_TRANSFER_COMPLETED;
      t->actual_length = t->length;
      return true;
    }
    if (TakeReply(*c, t->buffer, t->length)) {
      t->status = LIBUSB_TRANSFER_COMPLETED;
      t->actual_length = std::min(t->length, kPacket);
      return true;
    }
  }
  if (!timedOut) return false;
  t->status = LIBUSB_TRANSFER_TIMED_OUT;
  t->actual_length = 0;
  ++stats_.asyncTimedOut;
  return true;
}

int VirtualUsbBus::HandleEvents(timeval* tv) {
  RunUntil(Now());
  const uint32_t waitMs =
      tv == nullptr ? 0 : static_cast<uint32_t>(tv->tv_sec * 1000 + tv->tv_usec / 1000);
  for (int round = 0; round < 2; ++round) {
    libusb_transfer* done[kMaxPending];
    int doneCount = 0;
    for (int p = 0; p < pendingCount_;) {
      if (TryComplete(pending_[p])) {
        done[doneCount++] = pending_[p].transfer;
        pending_[p] = pending_[--pendingCount_];
      } else {
        ++p;
      }
    }
    // Callbacks run after the list is settled: they may submit again.
    for (int i = 0; i < doneCount; ++i) {
      ++stats_.asyncCompleted;
      if (done[i]->callback != nullptr) done[i]->callback(done[i]);
    }
    if (doneCount > 0 || waitMs == 0) break;
    wait_(waitMs);
  }
  return 0;
}

int VirtualUsbBus::BulkTransfer(libusb_device_handle* h, unsigned char endpoint,
                                unsigned char* data, int length, int* transferred,
                                unsigned int timeoutMs) {
  if (transferred != nullptr) *transferred = 0;
  UsbCard* c = CardOf(h);
  if (c == nullptr || !c->plugged) return LIBUSB_ERROR_NO_DEVICE;
  const bool in = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
  if (in ? endpoint != kEndpointIn : endpoint != kEndpointOut) return LIBUSB_ERROR_PIPE;
  const uint32_t timeout = timeoutMs == 0 ? 1000 : timeoutMs;
  if (!in) {
    ++stats_.bulkOut;
    if (c->stalled) {
      wait_(timeout);
      ++stats_.bulkTimeouts;
      return LIBUSB_ERROR_TIMEOUT;
    }
    ToCard(*c, data, length);
    if (transferred != nullptr) *transferred = length;
    return 0;
  }
  ++stats_.bulkIn;
  const uint64_t deadline = Now() + timeout;
  for (;;) {
    if (!c->stalled && TakeReply(*c, data, length)) {
      if (transferred != nullptr) *transferred = std::min(length, kPacket);
      return 0;
    }
    if (!c->plugged) return LIBUSB_ERROR_NO_DEVICE;
    // Sleep until the card might answer, or until the time-out.
    const uint64_t next = std::min(c->toCard.NextDue(), c->fromCard.NextDue());
    const uint64_t now = Now();
    if (next > now && next <= deadline && !c->stalled) {
      wait_(static_cast<uint32_t>(next - now));
      continue;
    }
    if (now < deadline) wait_(static_cast<uint32_t>(deadline - now));
    ++stats_.bulkTimeouts;
    return LIBUSB_ERROR_TIMEOUT;
  }
}

const UsbLibrary* VirtualUsbLoader::Load() {
  if (missing) return nullptr;
  SetActiveUsbBus(&bus_);
  return &VirtualUsbTable();
}

}  // namespace torvexan::sim
