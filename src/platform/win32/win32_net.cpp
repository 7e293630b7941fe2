#include "platform/win32/win32_net.h"

#include <winsock.h>

#include <cstring>

namespace torvexan {

namespace {

constexpr int kShutdownBoth = 2;  // SD_BOTH, which the version 1.1 header does not name

static_assert(sizeof(Ipv4SocketAddress) == sizeof(sockaddr_in));

SOCKET Native(SocketHandle s) {
  return static_cast<SOCKET>(s);
}

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = address;
  return a;
}

// Zero time-out readiness test of one socket; write selects the writable set.
bool Ready(SocketHandle s, bool write) {
  if (s == kInvalidSocket) return false;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Native(s), &set);
  timeval zero{0, 0};
  const int n = ::select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &zero);
  return n > 0 && FD_ISSET(Native(s), &set);
}

}  // namespace

int Win32Net::Startup(uint16_t requestedVersion, uint16_t* grantedVersion) {
  WSADATA data{};
  const int result = ::WSAStartup(requestedVersion, &data);
  *grantedVersion = result == 0 ? data.wVersion : 0;
  return result;
}

void Win32Net::Cleanup() {
  ::WSACleanup();
}

int Win32Net::HostName(char* buffer, int size) {
  if (size <= 0) return -1;
  if (::gethostname(buffer, size) != 0) return -1;
  buffer[size - 1] = '\0';
  return 0;
}

int Win32Net::LookupAddresses(const char* hostName, int first, uint32_t* addresses, int capacity) {
  const hostent* host = ::gethostbyname(hostName);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != sizeof(uint32_t)) {
    return 0;
  }
  int count = 0;
  int position = 0;
  for (char** a = host->h_addr_list; *a != nullptr && count < capacity; ++a) {
    if (position++ < first) continue;
    std::memcpy(&addresses[count++], *a, sizeof(uint32_t));
  }
  return count;
}

SocketHandle Win32Net::OpenUdp() {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

int Win32Net::Bind(SocketHandle s, uint32_t address, uint16_t port) {
  const sockaddr_in a = MakeAddress(address, port);
  return ::bind(Native(s), reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

int Win32Net::SetBroadcast(SocketHandle s, bool on) {
  // The option's documented type is a BOOL. A single byte is taken too (Wine 8 accepts it),
  // but the full BOOL is the size every Winsock implementation must accept.
  const BOOL value = on ? TRUE : FALSE;
  return ::setsockopt(Native(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&value),
                      sizeof value);
}

int Win32Net::SetNonBlocking(SocketHandle s) {
  u_long on = 1;
  return ::ioctlsocket(Native(s), FIONBIO, &on);
}

int Win32Net::SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t address,
                     uint16_t port) {
  const sockaddr_in a = MakeAddress(address, port);
  return ::sendto(Native(s), reinterpret_cast<const char*>(data), length, 0,
                  reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

bool Win32Net::IsReadable(SocketHandle s) {
  return Ready(s, false);
}
bool Win32Net::IsWritable(SocketHandle s) {
  return Ready(s, true);
}

int Win32Net::ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) {
  sockaddr_in a{};
  int length = sizeof a;
  const int n = ::recvfrom(Native(s), reinterpret_cast<char*>(buffer), capacity, 0,
                           reinterpret_cast<sockaddr*>(&a), &length);
  if (n >= 0 && from != nullptr) {
    *from = Ipv4SocketAddress{};
    from->family = AF_INET;
    from->port = a.sin_port;
    from->address = a.sin_addr.s_addr;
  }
  return n;
}

int Win32Net::Connect(SocketHandle s, const Ipv4SocketAddress& to) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = to.port;
  a.sin_addr.s_addr = to.address;
  return ::connect(Native(s), reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

int Win32Net::Send(SocketHandle s, const uint8_t* data, int length) {
  return ::send(Native(s), reinterpret_cast<const char*>(data), length, 0);
}

int Win32Net::Receive(SocketHandle s, uint8_t* buffer, int capacity) {
  return ::recv(Native(s), reinterpret_cast<char*>(buffer), capacity, 0);
}

void Win32Net::Shutdown(SocketHandle s) {
  ::shutdown(Native(s), kShutdownBoth);
}
void Win32Net::Close(SocketHandle s) {
  ::closesocket(Native(s));
}
int Win32Net::LastError() {
  return ::WSAGetLastError();
}

}  // namespace torvexan
