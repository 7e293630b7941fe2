// The plug-in's sockets, narrowed to one card: discovery sees only the local address that
// reached the card and hears only that card, so the link test runs the plug-in's own
// discovery and reconnects without picking up another card.
#pragma once

#include "platform/net_api.h"

namespace torvexan::check {

class PinnedNet final : public NetApi {
 public:
  PinnedNet(NetApi& inner, uint32_t localAddress, uint32_t cardAddress)
      : inner_(inner), local_(localAddress), card_(cardAddress) {}

  int LookupAddresses(const char*, int first, uint32_t* addresses, int capacity) override {
    if (first > 0 || capacity < 1) return 0;
    addresses[0] = local_;
    return 1;
  }
  // Datagrams from anyone but the card are passed over.
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) override {
    for (;;) {
      const int received = inner_.ReceiveFrom(s, buffer, capacity, from);
      if (received < 1 || from->address == card_) return received;
    }
  }

  int Startup(uint16_t v, uint16_t* granted) override { return inner_.Startup(v, granted); }
  void Cleanup() override { inner_.Cleanup(); }
  int HostName(char* b, int size) override { return inner_.HostName(b, size); }
  SocketHandle OpenUdp() override { return inner_.OpenUdp(); }
  int Bind(SocketHandle s, uint32_t a, uint16_t p) override { return inner_.Bind(s, a, p); }
  int SetBroadcast(SocketHandle s, bool on) override { return inner_.SetBroadcast(s, on); }
  int SetNonBlocking(SocketHandle s) override { return inner_.SetNonBlocking(s); }
  int SendTo(SocketHandle s, const uint8_t* d, int n, uint32_t a, uint16_t p) override {
    return inner_.SendTo(s, d, n, a, p);
  }
  bool IsReadable(SocketHandle s) override { return inner_.IsReadable(s); }
  bool IsWritable(SocketHandle s) override { return inner_.IsWritable(s); }
  int Connect(SocketHandle s, const Ipv4SocketAddress& to) override {
    return inner_.Connect(s, to);
  }
  int Send(SocketHandle s, const uint8_t* d, int n) override { return inner_.Send(s, d, n); }
  int Receive(SocketHandle s, uint8_t* b, int n) override { return inner_.Receive(s, b, n); }
  void Shutdown(SocketHandle s) override { inner_.Shutdown(s); }
  void Close(SocketHandle s) override { inner_.Close(s); }
  int LastError() override { return inner_.LastError(); }

 private:
  NetApi& inner_;
  uint32_t local_;
  uint32_t card_;
};

}  // namespace torvexan::check
