// BSD sockets behind NetApi, over the loopback interface only (nothing leaves the machine).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/posix_net.h"
#include "udp_loopback_scenario.h"

namespace torvexan {
namespace {

// A port per process, so that test runs of several builds at once do not collide.
uint16_t CardPort() {
  return static_cast<uint16_t>(42000 + ::getpid() % 2000);
}

TEST(PosixNet, HoldsTheTransportsConversationOverLoopback) {
  PosixNet net;
  testing::RunUdpLoopbackScenario(net, htonl(INADDR_LOOPBACK), CardPort(), EWOULDBLOCK,
                                  [](bool ok, const char* what) { EXPECT_TRUE(ok) << what; });
}

TEST(PosixNet, LocalAddressesAreThoseOfInterfacesThatAreUp) {
  PosixNet net;
  char name[1024];
  ASSERT_EQ(net.HostName(name, sizeof name), 0);
  uint32_t addresses[16] = {};
  const int n = net.LookupAddresses(name, 0, addresses, 16);
  ASSERT_GE(n, 1);  // the loopback interface at least
  EXPECT_NE(std::find(addresses, addresses + n, htonl(INADDR_LOOPBACK)), addresses + n);
  EXPECT_EQ(net.LookupAddresses(name, 0, addresses, 1), 1);  // never more than the room given
  uint32_t rest[16] = {};
  ASSERT_EQ(net.LookupAddresses(name, 1, rest, 16), n - 1);  // the list from position 1 on
  EXPECT_TRUE(std::equal(rest, rest + n - 1, addresses + 1));
  EXPECT_EQ(net.LookupAddresses(name, n, rest, 16), 0);
}

TEST(PosixNet, StartupGrantsTheVersionAsked) {
  PosixNet net;
  uint16_t granted = 0;
  EXPECT_EQ(net.Startup(0x0101, &granted), 0);
  EXPECT_EQ(granted, 0x0101);
}

}  // namespace
}  // namespace torvexan
