#pragma once

#include "platform/net_api.h"

namespace torvexan {

// BSD sockets. The local addresses are those of the interfaces that are up.
class PosixNet final : public NetApi {
 public:
  int Startup(uint16_t requestedVersion, uint16_t* grantedVersion) override;
  void Cleanup() override {}
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
  int LastError() override;
};

}  // namespace torvexan
