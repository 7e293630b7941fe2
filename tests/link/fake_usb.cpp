#include "fake_usb.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace torvexan::testing {

FakeUsbCard* FakeUsbCard::current = nullptr;

namespace {

uint8_t deviceToken;
uint8_t handleToken;
constexpr int kPacket = 64;

FakeUsbCard& Card() {
  return *FakeUsbCard::current;
}

libusb_device_handle* Handle() {
  return reinterpret_cast<libusb_device_handle*>(&handleToken);
}

int LIBUSB_CALL Init(libusb_context**) {
  return 0;
}
void LIBUSB_CALL SetDebug(libusb_context*, int) {}

libusb_device_handle* LIBUSB_CALL OpenVidPid(libusb_context*, uint16_t vendor, uint16_t product) {
  ++Card().openAttempts;
  if (!Card().present || vendor != 0xA720 || product != 0xF805) return nullptr;
  ++Card().opens;
  return Handle();
}

int LIBUSB_CALL Claim(libusb_device_handle*, int) {
  ++Card().claims;
  return 0;
}

int LIBUSB_CALL SetConfiguration(libusb_device_handle*, int) {
  ++Card().configurations;
  return 0;
}

libusb_device* LIBUSB_CALL GetDevice(libusb_device_handle*) {
  return reinterpret_cast<libusb_device*>(&deviceToken);
}

int LIBUSB_CALL GetDescriptor(libusb_device*, libusb_device_descriptor* d) {
  *d = libusb_device_descriptor{};
  d->idVendor = 0xA720;
  d->idProduct = 0xF805;
  d->iProduct = 2;
  d->iSerialNumber = 3;
  return 0;
}

int LIBUSB_CALL GetString(libusb_device_handle*, uint8_t index, unsigned char* data, int length) {
  if (index == 2 && !Card().productReadable) return LIBUSB_ERROR_PIPE;
  const std::string& text = index == 2 ? Card().product : Card().serial;
  // libusb writes at most length-1 characters and a NUL.
  const int n = std::min(static_cast<int>(text.size()), length - 1);
  std::memcpy(data, text.data(), static_cast<size_t>(n));
  data[n] = 0;
  return n;
}

libusb_transfer* LIBUSB_CALL AllocTransfer(int) {
  ++Card().transfersAllocated;
  return static_cast<libusb_transfer*>(std::calloc(1, sizeof(libusb_transfer)));
}

void LIBUSB_CALL FreeTransfer(libusb_transfer* t) {
  ++Card().transfersFreed;
  std::free(t);
}

int LIBUSB_CALL Submit(libusb_transfer* t) {
  FakeUsbCard& c = Card();
  if (c.inFlight != nullptr || t->length != kPacket) return LIBUSB_ERROR_BUSY;
  if (t->endpoint == 0x01) {
    c.connectRequests.push_back(WireDecode(Bytes(t->buffer, t->buffer + kPacket)));
    t->status = LIBUSB_TRANSFER_COMPLETED;
  } else if (c.answerConnect && !c.connectRequests.empty()) {
    Bytes r(kPacket, 0);
    r[0] = 1;
    r[1] = 3;
    r[2] = static_cast<uint8_t>(c.connectRequests.back()[2] + c.connectSequenceSkew);
    r[3] = c.connectFreeSlots;
    r[4] = static_cast<uint8_t>(c.connectCardTime);
    r[5] = static_cast<uint8_t>(c.connectCardTime >> 8);
    const Bytes wire = WireEncode(r);
    std::memcpy(t->buffer, wire.data(), kPacket);
    t->status = LIBUSB_TRANSFER_COMPLETED;
  } else {
    t->status = LIBUSB_TRANSFER_TIMED_OUT;
  }
  c.inFlight = t;
  c.pollsLeft = c.pollsPerTransfer;
  return 0;
}

int LIBUSB_CALL HandleEvents(libusb_context*, timeval* tv) {
  FakeUsbCard& c = Card();
  // A tick must never wait; only a cancelled transfer is waited for (when the plug-in stops).
  const bool waits = tv == nullptr || tv->tv_sec != 0 || tv->tv_usec != 0;
  if (waits && (c.inFlight == nullptr || c.inFlight->status != LIBUSB_TRANSFER_CANCELLED)) {
    std::abort();
  }
  if (c.inFlight != nullptr && --c.pollsLeft <= 0) {
    libusb_transfer* t = c.inFlight;
    c.inFlight = nullptr;
    t->actual_length = t->status == LIBUSB_TRANSFER_COMPLETED ? kPacket : 0;
    t->callback(t);
  }
  return 0;
}

int LIBUSB_CALL Bulk(libusb_device_handle*, unsigned char endpoint, unsigned char* data, int length,
                     int* transferred, unsigned int timeout) {
  FakeUsbCard& c = Card();
  if (length != kPacket || timeout != 10) std::abort();
  *transferred = 0;
  if (endpoint == 0x01) {
    c.commandWires.emplace_back(data, data + kPacket);
    c.commands.push_back(WireDecode(c.commandWires.back()));
    c.lastWrittenSequence = c.commands.back()[2];
    *transferred = kPacket;
    return 0;
  }
  ++c.bulkReads;
  Bytes reply;
  if (!c.scriptedReplies.empty()) {
    reply = c.scriptedReplies.front();
    c.scriptedReplies.pop_front();
  } else if (c.answerCommands) {
    reply = UsbStatusReply(c.lastWrittenSequence, 77);
    reply[6] = c.replyState;
  } else {
    return LIBUSB_ERROR_TIMEOUT;
  }
  const Bytes wire = WireEncode(reply);
  std::memcpy(data, wire.data(), kPacket);
  *transferred = kPacket;
  return 0;
}

int LIBUSB_CALL Release(libusb_device_handle*, int) {
  return 0;
}
void LIBUSB_CALL Close(libusb_device_handle*) {
  ++Card().closes;
  // libusb leaves a transfer still in flight on a closed device pointing at freed memory.
  if (Card().inFlight != nullptr) ++Card().closesWithTransferInFlight;
}
void LIBUSB_CALL Exit(libusb_context*) {}

// The transfer ends as cancelled at the next event poll.
int LIBUSB_CALL Cancel(libusb_transfer* t) {
  FakeUsbCard& c = Card();
  ++c.cancels;
  if (c.inFlight != t) return LIBUSB_ERROR_NOT_FOUND;
  t->status = LIBUSB_TRANSFER_CANCELLED;
  c.pollsLeft = 1;
  return 0;
}

}  // namespace

FakeUsbCard::FakeUsbCard()
    : table_{Init,         SetDebug,      OpenVidPid, Claim,         SetConfiguration,
             GetDevice,    GetDescriptor, GetString,  AllocTransfer, Submit,
             HandleEvents, FreeTransfer,  Bulk,       Release,       Close,
             Exit,         Cancel} {
  current = this;
}

FakeUsbCard::~FakeUsbCard() {
  current = nullptr;
}

Bytes UsbStatusReply(uint8_t sequence, uint8_t freeSlots) {
  Bytes r(kPacket, 0);
  r[0] = 1;
  r[1] = 3;
  r[2] = sequence;
  r[3] = freeSlots;
  return r;
}

}  // namespace torvexan::testing
