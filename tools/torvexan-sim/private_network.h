// A private network for one run: a new network namespace in which only the loopback
// interface exists, so the plug-in's discovery broadcasts and the card never reach a real
// network.
#pragma once

#include <string>

namespace torvexan::sim {

// Moves this process (it must still have a single thread) into a new network namespace,
// inside a new user namespace when the system does not let it create one directly. Then
// brings lo up and routes the limited broadcast 255.255.255.255 onto lo (otherwise a
// broadcast has no route and fails with "network unreachable"):
//   ip link set lo up
//   ip route add broadcast 255.255.255.255 dev lo scope link src 127.0.0.1
// Children started afterwards (the virtual card) share the namespace.
bool EnterPrivateNetwork(std::string* error);

}  // namespace torvexan::sim
