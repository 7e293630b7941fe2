// A scripted network for the Ethernet transport: sockets that record what the plug-in does
// with them, and a small card that answers discovery requests and commands with replies the
// test shapes. The card has its own wire codec so that a mistake in the plug-in's shows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "platform/net_api.h"

namespace torvexan::testing {

using Bytes = std::vector<uint8_t>;

// Each wire byte is the XOR of all plain bytes up to it.
inline Bytes WireEncode(Bytes plain) {
  uint8_t acc = 0;
  for (uint8_t& b : plain) b = acc ^= b;
  return plain;
}

inline Bytes WireDecode(const Bytes& wire) {
  Bytes plain(wire.size());
  uint8_t previous = 0;
  for (size_t i = 0; i < wire.size(); ++i) {
    plain[i] = wire[i] ^ previous;
    previous = wire[i];
  }
  return plain;
}

// An IPv4 address a.b.c.d in network byte order.
inline uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

inline uint16_t NetPort(uint16_t port) {
  return static_cast<uint16_t>((port >> 8) | (port << 8));
}

struct Datagram {
  Bytes wire;
  uint32_t fromAddress = 0;
  uint16_t fromPort = 0;  // host order
};

struct FakeSocket {
  uint32_t boundAddress = 0;
  uint16_t boundPort = 0;
  bool broadcast = false;
  bool nonBlocking = false;
  bool connected = false;
  Ipv4SocketAddress peer{};
  bool shutDown = false;
  bool closed = false;
  std::deque<Datagram> inbox;
};

struct SentPacket {
  SocketHandle socket;
  uint32_t localAddress;
  Bytes wire;
  uint32_t toAddress;  // the connected peer for Send
  uint16_t toPort;     // host order
};

class ScriptedNet;

// Something on the wire that hears what the plug-in sends.
class NetPeer {
 public:
  virtual ~NetPeer() = default;
  virtual void Heard(ScriptedNet& net, const SentPacket& packet) = 0;
};

class ScriptedNet : public NetApi {
 public:
  std::vector<uint32_t> addresses;
  std::map<SocketHandle, FakeSocket> sockets;
  std::vector<SentPacket> sent;
  std::vector<NetPeer*> peers;
  bool writable = true;
  int connectResult = 0;
  int hostNameCalls = 0;
  int lookups = 0;
  SocketHandle nextSocket = 40;

  int Startup(uint16_t requested, uint16_t* granted) override {
    *granted = requested;
    return 0;
  }
  void Cleanup() override {}
  int HostName(char* buffer, int size) override {
    ++hostNameCalls;
    std::strncpy(buffer, "bench", static_cast<size_t>(size));
    return 0;
  }
  int LookupAddresses(const char*, int first, uint32_t* out, int capacity) override {
    ++lookups;
    int n = 0;
    for (size_t i = static_cast<size_t>(std::max(first, 0)); i < addresses.size(); ++i) {
      if (n < capacity) out[n++] = addresses[i];
    }
    return n;
  }
  SocketHandle OpenUdp() override {
    sockets[nextSocket] = FakeSocket{};
    return nextSocket++;
  }
  int Bind(SocketHandle s, uint32_t address, uint16_t port) override {
    sockets.at(s).boundAddress = address;
    sockets.at(s).boundPort = port;
    return 0;
  }
  int SetBroadcast(SocketHandle s, bool on) override {
    sockets.at(s).broadcast = on;
    return 0;
  }
  int SetNonBlocking(SocketHandle s) override {
    sockets.at(s).nonBlocking = true;
    return 0;
  }
  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t address,
             uint16_t port) override {
    return Record(s, data, length, address, port);
  }
  bool IsReadable(SocketHandle s) override { return Open(s) && !sockets.at(s).inbox.empty(); }
  bool IsWritable(SocketHandle s) override { return Open(s) && writable; }
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) override {
    Datagram d;
    const int n = Pop(s, buffer, capacity, &d);
    if (n > 0 && from != nullptr) {
      *from = Ipv4SocketAddress{};
      from->family = 2;
      from->port = NetPort(d.fromPort);
      from->address = d.fromAddress;
    }
    return n;
  }
  int Connect(SocketHandle s, const Ipv4SocketAddress& to) override {
    if (connectResult != 0) return connectResult;
    sockets.at(s).connected = true;
    sockets.at(s).peer = to;
    return 0;
  }
  int Send(SocketHandle s, const uint8_t* data, int length) override {
    const FakeSocket& k = sockets.at(s);
    return Record(s, data, length, k.peer.address, NetPort(k.peer.port));
  }
  int Receive(SocketHandle s, uint8_t* buffer, int capacity) override {
    return Pop(s, buffer, capacity, nullptr);
  }
  void Shutdown(SocketHandle s) override { sockets.at(s).shutDown = true; }
  void Close(SocketHandle s) override { sockets.at(s).closed = true; }
  int LastError() override { return 11; }

  // Puts a datagram in a socket's receive queue.
  void Deliver(SocketHandle s, Datagram d) { sockets.at(s).inbox.push_back(std::move(d)); }

  int OpenSockets() const {
    int n = 0;
    for (const auto& [h, k] : sockets) n += k.closed ? 0 : 1;
    return n;
  }

 private:
  bool Open(SocketHandle s) const {
    auto it = sockets.find(s);
    return it != sockets.end() && !it->second.closed;
  }
  int Record(SocketHandle s, const uint8_t* data, int length, uint32_t address, uint16_t port) {
    sent.push_back(
        SentPacket{s, sockets.at(s).boundAddress, Bytes(data, data + length), address, port});
    const SentPacket packet = sent.back();
    for (NetPeer* p : peers) p->Heard(*this, packet);
    return length;
  }
  int Pop(SocketHandle s, uint8_t* buffer, int capacity, Datagram* out) {
    if (!Open(s) || sockets.at(s).inbox.empty()) return -1;  // would block
    Datagram d = std::move(sockets.at(s).inbox.front());
    sockets.at(s).inbox.pop_front();
    const int n = std::min(capacity, static_cast<int>(d.wire.size()));
    if (n > 0) std::memcpy(buffer, d.wire.data(), static_cast<size_t>(n));
    if (out != nullptr) *out = std::move(d);
    return n;
  }
};

// An Ethernet card on the scripted network.
class FakeEthCard : public NetPeer {
 public:
  uint32_t address = Ip(192, 168, 1, 50);
  uint16_t port = 1234;
  uint32_t reachableFrom = 0;  // the local address whose broadcasts it hears
  uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  uint8_t firmware[2] = {0x01, 0x2A};
  int statusLength = 92;
  uint8_t replyState = 0;  // the card's state in its status replies: halted, as at power-up
  bool answerDiscovery = true;
  bool answerCommands = true;
  int discoverySequenceSkew = 0;  // added to the echoed discovery sequence
  bool holdReplies = false;       // replies wait in held until the test releases them
  uint8_t freeSlots = 150;

  int discoveryRequests = 0;
  std::vector<Bytes> commands;  // decoded
  std::vector<std::pair<SocketHandle, Datagram>> held;

  void Heard(ScriptedNet& net, const SentPacket& p) override {
    const Bytes plain = WireDecode(p.wire);
    if (p.toAddress == Ip(255, 255, 255, 255) && p.toPort == port) {
      if (p.localAddress != reachableFrom || plain.size() < 5 || plain[2] != 1) return;
      ++discoveryRequests;
      if (answerDiscovery) Reply(net, p.socket, DiscoveryReply(plain));
    } else if (p.toAddress == address && p.toPort == port) {
      commands.push_back(plain);
      if (answerCommands) Reply(net, p.socket, StatusReply(plain[3], plain[4]));
    }
  }

  void ReleaseHeld(ScriptedNet& net) {
    for (auto& [s, d] : held) net.Deliver(s, d);
    held.clear();
  }

  Bytes DiscoveryReply(const Bytes& request) const {
    Bytes r(20, 0);
    r[0] = 0x55;
    r[1] = 0xAA;
    r[2] = 1;
    const int sequence = (request[3] | request[4] << 8) + discoverySequenceSkew;
    r[3] = static_cast<uint8_t>(sequence);
    r[4] = static_cast<uint8_t>(sequence >> 8);
    std::memcpy(&r[8], mac, 6);
    r[14] = firmware[0];
    r[15] = firmware[1];
    return r;
  }

  // A status reply; the positions count the commands served, one a tick (20 ms: four
  // periods of the card's clock) and one step each.
  Bytes StatusReply(uint8_t sequenceLow, uint8_t sequenceHigh) const {
    Bytes r(static_cast<size_t>(statusLength), 0);
    r[0] = 0x55;
    r[1] = 0xAA;
    r[2] = 3;
    r[3] = sequenceLow;
    r[4] = sequenceHigh;
    r[5] = freeSlots;
    const uint16_t cardTime = static_cast<uint16_t>(4 * commands.size());
    r[6] = static_cast<uint8_t>(cardTime);
    r[7] = static_cast<uint8_t>(cardTime >> 8);
    r[8] = replyState;
    r[19] = static_cast<uint8_t>(commands.size());
    return r;
  }

  void Reply(ScriptedNet& net, SocketHandle s, const Bytes& plain) {
    Datagram d{WireEncode(plain), address, port};
    if (holdReplies) {
      held.emplace_back(s, std::move(d));
    } else {
      net.Deliver(s, std::move(d));
    }
  }
};

}  // namespace torvexan::testing
