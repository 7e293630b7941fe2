// UDP sockets as the Ethernet transport uses them: the Windows Sockets 1.1 calls on Windows,
// BSD sockets elsewhere. Addresses are IPv4 in network byte order; ports in host order.
#pragma once

#include <cstdint>

namespace torvexan {

using SocketHandle = intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// An IPv4 socket address laid out as the sockets API lays it out.
struct Ipv4SocketAddress {
  uint16_t family;
  uint16_t port;     // network byte order
  uint32_t address;  // network byte order
  uint8_t zero[8];
};
static_assert(sizeof(Ipv4SocketAddress) == 16);

class NetApi {
 public:
  virtual ~NetApi() = default;

  // Starts the socket library; returns 0 on success and the version granted (low byte major).
  virtual int Startup(uint16_t requestedVersion, uint16_t* grantedVersion) = 0;
  virtual void Cleanup() = 0;

  // The local host's name; 0 on success.
  virtual int HostName(char* buffer, int size) = 0;
  // The IPv4 addresses the named host resolves to (on Linux: of the interfaces that are up),
  // from the one at position first on, so that a caller with little room can walk a long
  // list. Returns how many were written; 0 when the lookup fails or the list ends before first.
  virtual int LookupAddresses(const char* hostName, int first, uint32_t* addresses,
                              int capacity) = 0;

  virtual SocketHandle OpenUdp() = 0;
  virtual int Bind(SocketHandle s, uint32_t address, uint16_t port) = 0;
  virtual int SetBroadcast(SocketHandle s, bool on) = 0;
  virtual int SetNonBlocking(SocketHandle s) = 0;
  virtual int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t address,
                     uint16_t port) = 0;
  // Readiness tests with a zero time-out; an invalid socket is never ready.
  virtual bool IsReadable(SocketHandle s) = 0;
  virtual bool IsWritable(SocketHandle s) = 0;
  virtual int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity,
                          Ipv4SocketAddress* from) = 0;
  virtual int Connect(SocketHandle s, const Ipv4SocketAddress& to) = 0;
  virtual int Send(SocketHandle s, const uint8_t* data, int length) = 0;
  virtual int Receive(SocketHandle s, uint8_t* buffer, int capacity) = 0;
  virtual void Shutdown(SocketHandle s) = 0;  // both directions
  virtual void Close(SocketHandle s) = 0;
  virtual int LastError() = 0;
};

}  // namespace torvexan
