// A network with one Ethernet card that answers every command at once with a status reply of
// its model's length, echoing the command's sequence. Fixed buffers only: it allocates nothing
// per packet, so the cost and the heap use of the plug-in's own exchange step can be measured.
// It is also the world's clock: the rows of a packet take their 5 ms periods before the answer,
// so its clock, its free slots and the time stay as a real card's would.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/clock.h"
#include "platform/net_api.h"

namespace torvexan::testing {

class LoopbackCardNet : public NetApi, public Clock {
 public:
  static constexpr int kStatusLength = 92;  // a Lorn5
  static constexpr int kSequenceAt = 3;
  static constexpr int kFreeSlotsAt = 5;
  static constexpr int kCardTimeAt = 6;
  static constexpr int kRowCountAt = 16;  // of a motion command
  static constexpr uint32_t kMsPerRow = 5;
  static constexpr SocketHandle kSocket = 7;

  int sends = 0;
  int replies = 0;

  LoopbackCardNet() {
    plain_[0] = 0x55;
    plain_[1] = 0xAA;
    plain_[2] = 3;  // status
    plain_[kFreeSlotsAt] = 150;
  }

  int Startup(uint16_t requested, uint16_t* granted) override {
    *granted = requested;
    return 0;
  }
  void Cleanup() override {}
  int HostName(char* buffer, int size) override {
    if (size > 0) buffer[0] = '\0';
    return 0;
  }
  int LookupAddresses(const char*, int, uint32_t*, int) override { return 0; }
  SocketHandle OpenUdp() override { return kSocket; }
  int Bind(SocketHandle, uint32_t, uint16_t) override { return 0; }
  int SetBroadcast(SocketHandle, bool) override { return 0; }
  int SetNonBlocking(SocketHandle) override { return 0; }
  int SendTo(SocketHandle, const uint8_t*, int length, uint32_t, uint16_t) override {
    return length;
  }
  bool IsReadable(SocketHandle) override { return pending_; }
  bool IsWritable(SocketHandle) override { return true; }
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress*) override {
    return Receive(s, buffer, capacity);
  }
  int Connect(SocketHandle, const Ipv4SocketAddress&) override { return 0; }

  // The card reads the command's sequence and answers it.
  int Send(SocketHandle, const uint8_t* data, int length) override {
    ++sends;
    // Each wire byte is the XOR of the plain bytes up to it (the card's own codec).
    plain_[kSequenceAt] = data[kSequenceAt] ^ data[kSequenceAt - 1];
    plain_[kSequenceAt + 1] = data[kSequenceAt + 1] ^ data[kSequenceAt];
    const uint8_t rows = length > kRowCountAt ? data[kRowCountAt] ^ data[kRowCountAt - 1] : 0;
    nowMs_ += rows * kMsPerRow;
    const uint16_t periods = static_cast<uint16_t>(nowMs_ / kMsPerRow);
    plain_[kCardTimeAt] = static_cast<uint8_t>(periods);
    plain_[kCardTimeAt + 1] = static_cast<uint8_t>(periods >> 8);
    uint8_t acc = 0;
    for (int i = 0; i < kStatusLength; ++i) wire_[i] = acc ^= plain_[i];
    pending_ = true;
    return length;
  }
  int Receive(SocketHandle, uint8_t* buffer, int capacity) override {
    if (!pending_) return -1;
    pending_ = false;
    ++replies;
    const int n = capacity < kStatusLength ? capacity : kStatusLength;
    std::memcpy(buffer, wire_, static_cast<size_t>(n));
    return n;
  }
  void Shutdown(SocketHandle) override {}
  void Close(SocketHandle) override {}
  int LastError() override { return 0; }
  uint32_t TickCountMs() override { return nowMs_; }

 private:
  uint8_t plain_[kStatusLength] = {};
  uint8_t wire_[kStatusLength] = {};
  bool pending_ = false;
  uint32_t nowMs_ = 0;
};

}  // namespace torvexan::testing
