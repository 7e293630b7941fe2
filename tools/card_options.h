// Command-line options of torvexan-card.
#pragma once

#include <cstdint>

#include "card/fault_link.h"
#include "card/virtual_card.h"
#include "card_campaign.h"

namespace torvexan::tools {

struct CardServerOptions {
  sim::CardModel model = sim::CardModel::kLorn5;
  sim::CardOptions card;
  uint16_t port = 1234;
  const char* bindAddress = "0.0.0.0";
  sim::FaultShares toCard, fromCard;
  uint64_t seed = 1;
  uint32_t latencyMs = 0;
  double seconds = 0;         // 0: until SIGINT or SIGTERM
  double rebootAfter = 0;     // seconds; 0: never
  double rebootEvery = 0;     // seconds; 0: never
  uint32_t bootMs = 500;      // silence after a reboot
  double silentAfter = 0;     // seconds; 0: never
  double silentFor = 0;       // seconds of silence; 0: for good
  double toggleInputsMs = 0;  // period of the handwheel selector switching X x10 / off; 0: never
  CampaignOptions campaign;
  bool verbose = false;
  const char* machineLayout = nullptr;  // switches and probe surface, see card/machine_layout.h
  const char* tracePath = nullptr;      // one line per 5 ms period, see card/card_trace.h
};

// Fills options from argv; prints the reason and returns false on a bad option. Sets help
// when --help was asked for (the caller prints Usage()).
bool ParseCardServerOptions(int argc, char** argv, CardServerOptions& out, bool& help);
const char* CardServerUsage();

}  // namespace torvexan::tools
