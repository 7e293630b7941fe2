// A virtual IPv4 network behind the plug-in's socket interface: the local host's addresses,
// each on its own segment, and virtual Ethernet cards listening on UDP port 1234. Datagrams
// travel through fault links and arrive when the shared timeline says so.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "card/fault_link.h"
#include "card/virtual_card.h"
#include "harness/timeline.h"
#include "platform/net_api.h"

namespace torvexan::sim {

inline constexpr uint16_t kCardPort = 1234;
inline constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
inline constexpr uint32_t kDefaultLatencyMs = 1;  // each way, like a card on a quiet switch

// Network byte order address from dotted text ("192.168.1.10").
uint32_t Ipv4(const char* dotted);

// A virtual card plugged into one segment of the network.
struct NetCard {
  NetCard(CardModel model, const CardOptions& options, uint32_t address, int segment)
      : card(model, options), address(address), segment(segment) {}
  VirtualCard card;
  uint32_t address;  // network byte order
  int segment;
  bool unplugged = false;  // cable pulled: nothing reaches it, nothing comes back
  FaultLink toCard{0x9E3779B97F4A7C15ULL};
  FaultLink fromCard{0xD1B54A32D192ED03ULL};
  uint64_t clockMs = 0;  // how far the card's own clock has run

  // Same faults in both directions, seeded for repeatable runs.
  void SetFaults(const FaultShares& shares, uint64_t seed) {
    toCard.SetShares(shares);
    fromCard.SetShares(shares);
    toCard.Reseed(seed);
    fromCard.Reseed(seed * 31 + 7);
  }
  void SetLatency(uint32_t ms) {
    toCard.SetLatency(ms);
    fromCard.SetLatency(ms);
  }
};

struct NetStats {
  uint32_t sockets = 0, broadcasts = 0, sends = 0, received = 0, undeliverable = 0;
};

class VirtualNetwork : public NetApi, public TimeParticipant {
 public:
  static constexpr int kMaxSockets = 16;
  static constexpr int kMaxAddresses = 64;
  static constexpr int kQueueDepth = 32;

  explicit VirtualNetwork(Timeline& timeline);
  ~VirtualNetwork() override;
  VirtualNetwork(const VirtualNetwork&) = delete;
  VirtualNetwork& operator=(const VirtualNetwork&) = delete;

  // The local host: an address on a segment; the first one added is tried first.
  void AddLocalAddress(const char* dotted, int segment = 0);
  void SetHostName(const char* name);
  // A card on a segment (default latency kDefaultLatencyMs each way).
  NetCard& AddCard(CardModel model, const char* dotted, int segment = 0,
                   const CardOptions& options = CardOptions{});
  NetCard& card(int index) { return *cards_[static_cast<size_t>(index)]; }
  int cardCount() const { return static_cast<int>(cards_.size()); }

  // Failures of the host's socket library, for the tests of the plug-in's error paths.
  uint16_t grantedVersion = 0x0101;
  bool hostLookupFails = false;
  bool writable = true;  // false: no socket ever becomes writable
  bool connectFails = false;

  // A datagram from somebody else on the wire (a forger, a flood), delivered as the sockets
  // would deliver it; a datagram longer than a queue slot arrives cut to the slot.
  void Inject(uint32_t fromAddress, uint16_t fromPort, uint32_t toAddress, uint16_t toPort,
              const uint8_t* data, int length);

  const NetStats& stats() const { return stats_; }
  int openSockets() const;
  int startups() const { return startups_; }
  int cleanups() const { return cleanups_; }

  // NetApi
  int Startup(uint16_t requestedVersion, uint16_t* grantedVersion) override;
  void Cleanup() override;
  int HostName(char* buffer, int size) override;
  int LookupAddresses(const char* hostName, int first, uint32_t* addresses, int capacity) override;
  SocketHandle OpenUdp() override;
  int Bind(SocketHandle s, uint32_t address, uint16_t port) override;
  int SetBroadcast(SocketHandle s, bool on) override;
  int SetNonBlocking(SocketHandle s) override;
  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t address,
             uint16_t port) override;
  bool IsReadable(SocketHandle s) override;
  bool IsWritable(SocketHandle s) override;
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) override;
  int Connect(SocketHandle s, const Ipv4SocketAddress& to) override;
  int Send(SocketHandle s, const uint8_t* data, int length) override;
  int Receive(SocketHandle s, uint8_t* buffer, int capacity) override;
  void Shutdown(SocketHandle s) override;
  void Close(SocketHandle s) override;
  int LastError() override { return lastError_; }

  // TimeParticipant
  uint64_t NextEventMs() const override;
  void RunUntil(uint64_t nowMs) override;

 private:
  struct Datagram {
    uint32_t fromAddress;
    uint16_t fromPort;
    int length;
    uint8_t bytes[FaultLink::kMaxPacket];
  };
  struct Socket {
    bool open = false;
    bool bound = false;
    bool broadcast = false;
    bool connected = false;
    bool shut = false;
    uint32_t address = 0;
    uint16_t port = 0;
    uint32_t peerAddress = 0;
    uint16_t peerPort = 0;
    int head = 0, count = 0;
    Datagram queue[kQueueDepth];
  };

  Socket* Find(SocketHandle s);
  int SegmentOf(uint32_t address) const;
  int Transmit(Socket& from, const uint8_t* data, int length, uint32_t address, uint16_t port);
  void DeliverToSocket(uint32_t fromAddress, uint16_t fromPort, uint32_t toAddress, uint16_t toPort,
                       const uint8_t* data, int length);
  int Pop(Socket& s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from);

  Timeline& timeline_;
  char hostName_[64] = "virtualhost";
  uint32_t addresses_[kMaxAddresses] = {};
  int segments_[kMaxAddresses] = {};
  int addressCount_ = 0;
  std::vector<std::unique_ptr<NetCard>> cards_;
  std::unique_ptr<Socket[]> sockets_;
  uint16_t nextEphemeral_ = 40000;
  int lastError_ = 0;
  int startups_ = 0, cleanups_ = 0;
  NetStats stats_;
  FaultLink::Packet scratch_;
};

}  // namespace torvexan::sim
