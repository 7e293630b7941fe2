// A socket layer that forwards to another one and writes down what the plug-in put on the
// wire and what it read back, with the tick it happened in: the tests compare bytes and
// timing of real exchanges with the virtual cards, not of scripted ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/net_api.h"

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

class WireTap : public NetApi {
 public:
  explicit WireTap(NetApi& inner) : inner_(inner) {}
  // The plug-in's tick count, read at every call that is written down.
  void WatchTicks(const uint32_t* tickCount) { tick_ = tickCount; }

  const std::vector<TappedDatagram>& log() const { return log_; }
  std::vector<TappedDatagram> Of(TappedDatagram::Kind kind, size_t from = 0) const;
  size_t size() const { return log_.size(); }

  int Startup(uint16_t requested, uint16_t* granted) override {
    return inner_.Startup(requested, granted);
  }
  void Cleanup() override { inner_.Cleanup(); }
  int HostName(char* buffer, int size) override { return inner_.HostName(buffer, size); }
  int LookupAddresses(const char* name, uint32_t* addresses, int capacity) override {
    return inner_.LookupAddresses(name, addresses, capacity);
  }
  SocketHandle OpenUdp() override { return inner_.OpenUdp(); }
  int Bind(SocketHandle s, uint32_t address, uint16_t port) override;
  int SetBroadcast(SocketHandle s, bool on) override { return inner_.SetBroadcast(s, on); }
  int SetNonBlocking(SocketHandle s) override { return inner_.SetNonBlocking(s); }
  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t address,
             uint16_t port) override;
  bool IsReadable(SocketHandle s) override { return inner_.IsReadable(s); }
  bool IsWritable(SocketHandle s) override { return inner_.IsWritable(s); }
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) override;
  int Connect(SocketHandle s, const Ipv4SocketAddress& to) override {
    return inner_.Connect(s, to);
  }
  int Send(SocketHandle s, const uint8_t* data, int length) override;
  int Receive(SocketHandle s, uint8_t* buffer, int capacity) override;
  void Shutdown(SocketHandle s) override { inner_.Shutdown(s); }
  void Close(SocketHandle s) override { inner_.Close(s); }
  int LastError() override { return inner_.LastError(); }

 private:
  void Note(TappedDatagram::Kind kind, const uint8_t* data, int length, uint32_t local);

  NetApi& inner_;
  const uint32_t* tick_ = nullptr;
  SocketHandle boundSocket_ = kInvalidSocket;
  uint32_t boundAddress_ = 0;
  std::vector<TappedDatagram> log_;
};

}  // namespace torvexan::testing
