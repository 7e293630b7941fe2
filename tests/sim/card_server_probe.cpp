// Talks to a running torvexan-card over real UDP: discovery by broadcast from 127.0.0.1:1235,
// then a run of exchanges with resends. Meant to run in the same private network namespace.
// usage: card_server_probe <expected reply length> <exchanges>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "card/card_wire.h"

namespace {

using torvexan::sim::DecodeChained;
using torvexan::sim::EncodeChained;

constexpr int kWaitMs = 50;
constexpr int kMaxSends = 40;

int Fail(const char* what) {
  std::fprintf(stderr, "card_server_probe: %s\n", what);
  return 1;
}

// Sends plain bytes until an answer with the same number comes back; its length, or -1.
int Exchange(int fd, std::vector<uint8_t> plain, uint16_t seq, uint8_t* reply, int* resends) {
  plain[3] = static_cast<uint8_t>(seq);
  plain[4] = static_cast<uint8_t>(seq >> 8);
  EncodeChained(plain.data(), static_cast<int>(plain.size()));
  for (int send = 0; send < kMaxSends; ++send) {
    if (send > 0) ++*resends;
    ::send(fd, plain.data(), plain.size(), 0);
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, kWaitMs) > 0) {
      const ssize_t n = ::recv(fd, reply, 100, 0);
      if (n <= 0) break;
      DecodeChained(reply, static_cast<int>(n));
      if (reply[0] == 0x55 && reply[1] == 0xAA && (reply[3] | (reply[4] << 8)) == seq)
        return static_cast<int>(n);
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: card_server_probe <reply length> <exchanges>");
  const int expected = std::atoi(argv[1]);
  const int exchanges = std::atoi(argv[2]);
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(1235);
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return Fail("bind");

  uint8_t reply[100];
  sockaddr_in card{};
  bool found = false;
  for (int attempt = 0; attempt < 40 && !found; ++attempt) {
    uint8_t discover[5] = {0x55, 0xAA, 0x01, 0x00, 0x00};
    EncodeChained(discover, 5);
    sockaddr_in all{};
    all.sin_family = AF_INET;
    all.sin_port = htons(1234);
    all.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    if (::sendto(fd, discover, 5, 0, reinterpret_cast<sockaddr*>(&all), sizeof all) != 5)
      return Fail("broadcast refused");
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kWaitMs) <= 0) continue;
    socklen_t length = sizeof card;
    const ssize_t n =
        ::recvfrom(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&card), &length);
    DecodeChained(reply, static_cast<int>(n));
    found = n == 16 && reply[0] == 0x55 && reply[1] == 0xAA;
  }
  if (!found) return Fail("no discovery reply");
  if (::connect(fd, reinterpret_cast<sockaddr*>(&card), sizeof card) != 0) return Fail("connect");

  int resends = 0;
  std::vector<uint8_t> configure(15, 0), poll(21, 0);
  configure[0] = poll[0] = 0x55;
  configure[1] = poll[1] = 0xAA;
  configure[2] = poll[2] = 2;
  configure[8] = 11;
  poll[8] = 3;
  uint16_t seq = 1;
  if (Exchange(fd, configure, seq++, reply, &resends) != expected) return Fail("configure");
  if (static_cast<int8_t>(reply[8]) != 1) return Fail("not ready after configuration");
  for (int i = 0; i < exchanges; ++i) {
    const int n = Exchange(fd, poll, seq++, reply, &resends);
    if (n != expected) return Fail("exchange lost or wrong length");
  }
  std::printf("card_server_probe: %d exchanges, %d resends\n", exchanges + 1, resends);
  ::close(fd);
  return 0;
}
