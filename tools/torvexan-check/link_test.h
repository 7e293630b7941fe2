// The link test: status polls at the plug-in's tick through the plug-in's own link state
// machine, transports and reply checks, timed and counted.
#pragma once

#include <cstdint>
#include <functional>

#include "check_report.h"
#include "platform/platform.h"

namespace torvexan::check {

struct LinkTarget {
  bool usb = false;
  uint32_t localAddress = 0;  // Ethernet: the local address that reached the card
  uint32_t cardAddress = 0;   // Ethernet: where the card answered from
};

struct LinkTestSettings {
  double seconds = 10;
  double tickMs = 20;
  // Called about four times a second with the report so far and the seconds run.
  std::function<void(const LinkReport&, double)> progress;
};

// Polls the card for the given time. Sends status polls only: never a row, never a command
// that changes what the card does.
void RunLinkTest(const Platform& platform, const LinkTarget& target, const LinkTestSettings& how,
                 LinkReport& report);

}  // namespace torvexan::check
