#include "platform/posix/posix_net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <cstring>

namespace torvexan {

namespace {

bool Ready(SocketHandle s, short events) {
  if (s == kInvalidSocket) return false;
  pollfd p{static_cast<int>(s), events, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (events | POLLERR)) != 0;
}

}  // namespace

int PosixNet::Startup(uint16_t requestedVersion, uint16_t* grantedVersion) {
  *grantedVersion = requestedVersion;  // nothing to start: sockets are always there
  return 0;
}

int PosixNet::HostName(char* buffer, int size) {
  if (size <= 0) return -1;
  if (::gethostname(buffer, static_cast<size_t>(size)) != 0) return -1;
  buffer[size - 1] = '\0';
  return 0;
}

int PosixNet::LookupAddresses(const char*, int first, uint32_t* addresses, int capacity) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return 0;
  int count = 0;
  int position = 0;
  for (ifaddrs* i = list; i != nullptr && count < capacity; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    if ((i->ifa_flags & IFF_UP) == 0) continue;
    if (position++ < first) continue;
    addresses[count++] = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
  }
  ::freeifaddrs(list);
  return count;
}

SocketHandle PosixNet::OpenUdp() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  return fd < 0 ? kInvalidSocket : fd;
}

int PosixNet::Bind(SocketHandle s, uint32_t address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = address;
  return ::bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
}

int PosixNet::SetBroadcast(SocketHandle s, bool on) {
  const int value = on ? 1 : 0;
  return ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_BROADCAST, &value, sizeof value);
}

int PosixNet::SetNonBlocking(SocketHandle s) {
  const int flags = ::fcntl(static_cast<int>(s), F_GETFL, 0);
  return flags < 0 ? -1 : ::fcntl(static_cast<int>(s), F_SETFL, flags | O_NONBLOCK);
}

int PosixNet::SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t address,
                     uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = address;
  return static_cast<int>(::sendto(static_cast<int>(s), data, static_cast<size_t>(length),
                                   MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a), sizeof a));
}

bool PosixNet::IsReadable(SocketHandle s) {
  return Ready(s, POLLIN);
}
bool PosixNet::IsWritable(SocketHandle s) {
  return Ready(s, POLLOUT);
}

int PosixNet::ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  const ssize_t n = ::recvfrom(static_cast<int>(s), buffer, static_cast<size_t>(capacity), 0,
                               reinterpret_cast<sockaddr*>(&a), &length);
  if (n >= 0 && from != nullptr) {
    *from = Ipv4SocketAddress{};
    from->family = AF_INET;
    from->port = a.sin_port;
    from->address = a.sin_addr.s_addr;
  }
  return static_cast<int>(n);
}

int PosixNet::Connect(SocketHandle s, const Ipv4SocketAddress& to) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = to.port;
  a.sin_addr.s_addr = to.address;
  return ::connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
}

int PosixNet::Send(SocketHandle s, const uint8_t* data, int length) {
  return static_cast<int>(
      ::send(static_cast<int>(s), data, static_cast<size_t>(length), MSG_NOSIGNAL));
}

int PosixNet::Receive(SocketHandle s, uint8_t* buffer, int capacity) {
  return static_cast<int>(::recv(static_cast<int>(s), buffer, static_cast<size_t>(capacity), 0));
}

void PosixNet::Shutdown(SocketHandle s) {
  ::shutdown(static_cast<int>(s), SHUT_RDWR);
}
void PosixNet::Close(SocketHandle s) {
  ::close(static_cast<int>(s));
}
int PosixNet::LastError() {
  return errno;
}

}  // namespace torvexan
