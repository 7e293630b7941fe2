// One conversation over the loopback interface through a NetApi, as the Ethernet transport
// holds it: a datagram to a bound port, readiness tests with zero time-out, the reply's sender
// learned, the socket connected to it, then send and receive. Shared by the POSIX test and
// the Windows test program, each with its own way of reporting a failed check.
#pragma once

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/net_api.h"

namespace torvexan::testing {

// check(ok, what) reports one result. wouldBlock is the system's error code for a
// non-blocking receive that finds nothing; cardPort a free port on the loopback interface.
template <typename Check>
void RunUdpLoopbackScenario(NetApi& net, uint32_t loopback, uint16_t cardPort, int wouldBlock,
                            Check check) {
  constexpr auto kDeliveryWait = std::chrono::milliseconds(50);
  const SocketHandle plugin = net.OpenUdp();
  const SocketHandle card = net.OpenUdp();
  check(plugin != kInvalidSocket && card != kInvalidSocket, "sockets open");
  check(net.Bind(plugin, loopback, 0) == 0, "bind to a port of the system's choosing");
  check(net.Bind(card, loopback, cardPort) == 0, "bind to the card port");
  check(net.SetBroadcast(plugin, true) == 0, "broadcast on");
  check(net.SetBroadcast(plugin, false) == 0, "broadcast off");
  check(net.SetNonBlocking(plugin) == 0 && net.SetNonBlocking(card) == 0, "non-blocking");

  uint8_t buffer[100];
  check(!net.IsReadable(card), "nothing to read yet");
  check(net.Receive(card, buffer, sizeof buffer) < 0, "an empty receive fails at once");
  check(net.LastError() == wouldBlock, "and says it would block");

  const uint8_t request[5] = {0x55, 0xAA, 1, 2, 3};
  check(net.SendTo(plugin, request, sizeof request, loopback, cardPort) == sizeof request,
        "datagram sent");
  std::this_thread::sleep_for(kDeliveryWait);
  check(net.IsReadable(card), "datagram waiting");
  Ipv4SocketAddress from{};
  check(net.ReceiveFrom(card, buffer, sizeof buffer, &from) == sizeof request, "datagram read");
  check(std::memcmp(buffer, request, sizeof request) == 0, "datagram intact");
  check(from.address == loopback && from.port != 0, "sender address and port reported");
  check(!net.IsReadable(card), "read empties the queue");

  check(net.Connect(card, from) == 0, "connect to the sender");
  check(net.IsWritable(card), "connected socket writable");
  const uint8_t reply[3] = {9, 8, 7};
  check(net.Send(card, reply, sizeof reply) == sizeof reply, "reply sent");
  std::this_thread::sleep_for(kDeliveryWait);
  check(net.Receive(plugin, buffer, sizeof buffer) == sizeof reply, "reply received");
  check(std::memcmp(buffer, reply, sizeof reply) == 0, "reply intact");

  check(!net.IsReadable(kInvalidSocket) && !net.IsWritable(kInvalidSocket),
        "an invalid socket is never ready");
  net.Shutdown(plugin);
  net.Shutdown(card);
  net.Close(plugin);
  net.Close(card);
}

}  // namespace torvexan::testing
