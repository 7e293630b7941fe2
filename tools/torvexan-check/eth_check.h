// The Ethernet side of the check: the local addresses discovery uses, whether the discovery
// port is free, and every card that answers a discovery broadcast from each address.
#pragma once

#include <cstdint>
#include <string>

#include "check_report.h"
#include "platform/net_api.h"

namespace torvexan::check {

// The local IPv4 addresses as the plug-in's discovery walks them, in its order, with masks.
void ListLocalAddresses(NetApi& net, EthReport& r);

// Binds the local discovery port on each local address as discovery does; false (and the
// address noted) when another program holds it.
bool DiscoveryPortFree(NetApi& net, EthReport& r);

// Broadcasts the plug-in's discovery request from each local address and takes every reply
// that comes within waitMs.
void SurveyCards(NetApi& net, uint32_t waitMs, EthReport& r);

std::string Dotted(uint32_t address);
bool ParseDotted(const std::string& text, uint32_t* address);

}  // namespace torvexan::check
