// A socket layer that forwards to another one and writes down what the plug-in put on the
// wire and what it read back, with the tick it happened in: the tests compare bytes and
// timing of real exchanges with the virtual cards, not of scripted ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/forwarding_net.h"

namespace torvexan::testing {

struct TappedDatagram {
  enum class Kind : uint8_t { kBroadcast, kSend, kReceived };
  Kind kind;
  uint32_t tick;
  uint32_t localAddress;       // the address the socket was bound to (broadcasts)
  std::vector<uint8_t> bytes;  // as on the wire (chain-encoded)
  // The decoded sequence number at bytes 3..4, when the datagram is long enough.
  int Sequence() const;
};

class WireTap : public ForwardingNet {
 public:
  explicit WireTap(NetApi& inner) : ForwardingNet(inner) {}
  // The plug-in's tick count, read at every call that is written down.
  void WatchTicks(const uint32_t* tickCount) { tick_ = tickCount; }

  const std::vector<TappedDatagram>& log() const { return log_; }
  std::vector<TappedDatagram> Of(TappedDatagram::Kind kind, size_t from = 0) const;
  size_t size() const { return log_.size(); }

  int Bind(SocketHandle s, uint32_t address, uint16_t port) override;
  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t address,
             uint16_t port) override;
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) override;
  int Send(SocketHandle s, const uint8_t* data, int length) override;
  int Receive(SocketHandle s, uint8_t* buffer, int capacity) override;

 private:
  void Note(TappedDatagram::Kind kind, const uint8_t* data, int length, uint32_t local);

  const uint32_t* tick_ = nullptr;
  SocketHandle boundSocket_ = kInvalidSocket;
  uint32_t boundAddress_ = 0;
  std::vector<TappedDatagram> log_;
};

}  // namespace torvexan::testing
