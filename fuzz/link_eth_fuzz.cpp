// The Ethernet transport against a network that delivers whatever datagrams the fuzzer makes:
// discovery passes over the local addresses, then exchanges of status polls, reconnecting after
// a loss, for as long as datagrams last. Every step returns (nothing waits), the card's name
// texts stay terminated, and the link counters agree with what went over the wire.
//
// Input: one byte of network settings (bits 0-1: local addresses; bit 2: sockets never
// writable), then datagrams, each as a flags byte, a length byte and the bytes. Flags: bit 0,
// the bytes are plain and the network chain-encodes them; bit 1, the network writes the
// sequence of the last packet sent into bytes 3 and 4 first, as a card echoes it; bit 2, bytes
// 0 and 1 become the card's marker (all three make well-formed replies easy to reach); bits
// 4-7, polls on which the datagram is not yet there.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "link/card_session.h"
#include "link/eth_transport.h"
#include "link/packets.h"
#include "state/plugin_state.h"

namespace {

using namespace torvexan;

constexpr int kMaxTicks = 4000;
constexpr int kEthSequenceAt = 3;  // u16 in every Ethernet packet

void Require(bool condition) {
  if (!condition) std::abort();
}

enum DatagramFlag : uint8_t {
  kEncodeHere = 1,
  kEchoSequence = 2,
  kStampMarker = 4,
};

constexpr uint8_t kMarker[2] = {0x55, 0xAA};

struct FuzzDatagram {
  std::vector<uint8_t> bytes;
  uint8_t flags;
  int pollsAbsent;
};

class FuzzNet : public NetApi {
 public:
  FuzzNet(const uint8_t* data, size_t size) {
    if (size == 0) return;
    addressCount_ = data[0] & 0x03;
    writable_ = (data[0] & 0x04) == 0;
    for (size_t at = 1; at + 2 <= size;) {
      const uint8_t flags = data[at];
      const size_t length = data[at + 1];
      at += 2;
      const size_t n = length < size - at ? length : size - at;
      datagrams_.push_back(
          FuzzDatagram{std::vector<uint8_t>(data + at, data + at + n), flags, flags >> 4});
      at += n;
    }
  }

  bool Exhausted() const { return next_ >= datagrams_.size(); }
  int commandSends = 0;
  std::set<uint16_t> packetsSent;  // by sequence

  int Startup(uint16_t requested, uint16_t* granted) override {
    *granted = requested;
    return 0;
  }
  void Cleanup() override {}
  int HostName(char* buffer, int size) override {
    std::snprintf(buffer, static_cast<size_t>(size), "fuzz");
    return 0;
  }
  int LookupAddresses(const char*, int first, uint32_t* out, int capacity) override {
    int n = 0;
    for (int i = first; i >= 0 && i < addressCount_ && n < capacity; ++i) {
      out[n++] = 0x0100000Au + (static_cast<uint32_t>(i) << 24);
    }
    return n;
  }
  SocketHandle OpenUdp() override {
    open_.push_back(true);
    return static_cast<SocketHandle>(open_.size() - 1);
  }
  int Bind(SocketHandle s, uint32_t, uint16_t) override { return Valid(s) ? 0 : -1; }
  int SetBroadcast(SocketHandle s, bool) override { return Valid(s) ? 0 : -1; }
  int SetNonBlocking(SocketHandle s) override { return Valid(s) ? 0 : -1; }
  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t, uint16_t) override {
    if (!Valid(s)) return -1;
    Require(length == kDiscoveryRequestLength);
    lastSequence_ = PlainSequence(data, length);
    return length;
  }
  bool IsReadable(SocketHandle s) override {
    if (!Valid(s) || Exhausted()) return false;
    if (datagrams_[next_].pollsAbsent > 0) {
      --datagrams_[next_].pollsAbsent;
      return false;
    }
    return true;
  }
  bool IsWritable(SocketHandle s) override { return Valid(s) && writable_; }
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) override {
    if (from != nullptr) {
      *from = Ipv4SocketAddress{};
      from->family = 2;
      from->address = 0x3201A8C0;
    }
    return Receive(s, buffer, capacity);
  }
  int Connect(SocketHandle s, const Ipv4SocketAddress&) override { return Valid(s) ? 0 : -1; }
  int Send(SocketHandle s, const uint8_t* data, int length) override {
    if (!Valid(s)) return -1;
    Require(length >= kEthHeaderLength && length <= kPacketBufferSize);
    lastSequence_ = PlainSequence(data, length);
    ++commandSends;
    packetsSent.insert(lastSequence_);
    return length;
  }
  int Receive(SocketHandle s, uint8_t* buffer, int capacity) override {
    if (!Valid(s) || Exhausted()) return -1;
    FuzzDatagram& d = datagrams_[next_++];
    std::vector<uint8_t>& wire = d.bytes;
    if ((d.flags & kEchoSequence) && wire.size() > kEthSequenceAt + 1) {
      wire[kEthSequenceAt] = static_cast<uint8_t>(lastSequence_);
      wire[kEthSequenceAt + 1] = static_cast<uint8_t>(lastSequence_ >> 8);
    }
    if ((d.flags & kStampMarker) && wire.size() >= sizeof kMarker) {
      std::memcpy(wire.data(), kMarker, sizeof kMarker);
    }
    if (d.flags & kEncodeHere) ChainEncode(wire.data(), static_cast<int>(wire.size()));
    const int n =
        static_cast<int>(wire.size()) < capacity ? static_cast<int>(wire.size()) : capacity;
    if (n > 0) std::memcpy(buffer, wire.data(), static_cast<size_t>(n));
    return n;
  }
  void Shutdown(SocketHandle s) override { Require(Valid(s)); }
  void Close(SocketHandle s) override {
    Require(Valid(s));  // never closed twice
    open_[static_cast<size_t>(s)] = false;
  }
  int LastError() override { return 0; }

 private:
  static uint16_t PlainSequence(const uint8_t* wire, int length) {
    uint8_t plain[kEthHeaderLength];
    std::memcpy(plain, wire,
                static_cast<size_t>(length < kEthHeaderLength ? length : kEthHeaderLength));
    ChainDecode(plain, kEthSequenceAt + 2);
    return static_cast<uint16_t>(plain[kEthSequenceAt] | plain[kEthSequenceAt + 1] << 8);
  }

  bool Valid(SocketHandle s) const {
    return s >= 0 && static_cast<size_t>(s) < open_.size() && open_[static_cast<size_t>(s)];
  }

  int addressCount_ = 0;
  bool writable_ = true;
  std::vector<FuzzDatagram> datagrams_;
  size_t next_ = 0;
  std::vector<bool> open_;
  uint16_t lastSequence_ = 0;
};

bool Terminated(const char (&text)[32]) {
  return std::memchr(text, '\0', sizeof text) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The transport's diagnostic lines would only slow the runs down.
  Require(std::freopen("/dev/null", "w", stdout) != nullptr);
  return 0;
}

// The host's clock runs 20 ms per tick, as the plug-in's cycle does.
class TickClock : public Clock {
 public:
  explicit TickClock(const uint32_t& ticks) : ticks_(ticks) {}
  uint32_t TickCountMs() override { return ticks_ * 20; }

 private:
  const uint32_t& ticks_;
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzNet net(data, size);
  Platform platform{};
  platform.net = &net;
  uint32_t ticks = 0;
  TickClock clock(ticks);
  platform.clock = &clock;
  PluginState s(platform);
  s.session = std::make_unique<CardSession>();
  CardSession& c = *s.session;
  StartCardSession(c, platform);

  int accepted = 0;
  int losses = 0;
  for (int tick = 0; tick < kMaxTicks && !net.Exhausted(); ++tick) {
    ticks = ++s.cycle.TickCount;
    if (!c.online) {
      if (StepFinished(EthDiscoveryStep(s))) {
        Require(c.online && c.socket != kInvalidSocket);
        Require(Terminated(c.serialText) && Terminated(c.deviceName));
      }
      continue;
    }
    if (c.txLength == 0) c.txLength = BuildStatusPoll(c);
    const int r = EthExchangeStep(s, c.txLength);
    if (!StepFinished(r)) continue;
    if (!c.online) {
      ++losses;
      continue;  // the packet waits for the next card
    }
    Require(r == kStepEnded);
    ++accepted;
    c.txLength = 0;
  }
  Require(c.counters.exchanges == static_cast<uint64_t>(accepted));
  Require(c.counters.linkLosses == static_cast<uint64_t>(losses));
  Require(c.counters.resends == static_cast<uint64_t>(net.commandSends) - net.packetsSent.size());
  Require(c.counters.discoveryRequests >= c.counters.discoveryPasses ||
          c.counters.discoveryRequests == 0);
  StopCardSession(c);
  return 0;
}
