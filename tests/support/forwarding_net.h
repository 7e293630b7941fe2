// A socket layer that hands every call to another one. Test layers that watch or answer
// some calls derive from it and override only those.
#pragma once

#include "platform/net_api.h"

namespace torvexan::testing {

class ForwardingNet : public NetApi {
 public:
  explicit ForwardingNet(NetApi& inner) : inner_(inner) {}

  int Startup(uint16_t requested, uint16_t* granted) override {
    return inner_.Startup(requested, granted);
  }
  void Cleanup() override { inner_.Cleanup(); }
  int HostName(char* buffer, int size) override { return inner_.HostName(buffer, size); }
  int LookupAddresses(const char* name, int first, uint32_t* addresses, int capacity) override {
    return inner_.LookupAddresses(name, first, addresses, capacity);
  }
  SocketHandle OpenUdp() override { return inner_.OpenUdp(); }
  int Bind(SocketHandle s, uint32_t address, uint16_t port) override {
    return inner_.Bind(s, address, port);
  }
  int SetBroadcast(SocketHandle s, bool on) override { return inner_.SetBroadcast(s, on); }
  int SetNonBlocking(SocketHandle s) override { return inner_.SetNonBlocking(s); }
  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t address,
             uint16_t port) override {
    return inner_.SendTo(s, data, length, address, port);
  }
  bool IsReadable(SocketHandle s) override { return inner_.IsReadable(s); }
  bool IsWritable(SocketHandle s) override { return inner_.IsWritable(s); }
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) override {
    return inner_.ReceiveFrom(s, buffer, capacity, from);
  }
  int Connect(SocketHandle s, const Ipv4SocketAddress& to) override {
    return inner_.Connect(s, to);
  }
  int Send(SocketHandle s, const uint8_t* data, int length) override {
    return inner_.Send(s, data, length);
  }
  int Receive(SocketHandle s, uint8_t* buffer, int capacity) override {
    return inner_.Receive(s, buffer, capacity);
  }
  void Shutdown(SocketHandle s) override { inner_.Shutdown(s); }
  void Close(SocketHandle s) override { inner_.Close(s); }
  int LastError() override { return inner_.LastError(); }

 protected:
  NetApi& inner() { return inner_; }

 private:
  NetApi& inner_;
};

}  // namespace torvexan::testing
