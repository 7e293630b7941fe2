// Command-line options of the virtual card: one table that torvexan-card reads from its own
// command line and torvexan-sim reads from its --card-arg values, so that a fault has the
// same name and the same range whether the card runs as a process or in virtual time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/fault_link.h"
#include "card/virtual_card.h"
#include "card_campaign.h"

namespace torvexan::tools {

struct CardServerOptions {
  sim::CardModel model = sim::CardModel::kLorn5;
  sim::CardOptions card;
  uint16_t port = 1234;
  std::string bindAddress = "0.0.0.0";
  sim::FaultShares toCard, fromCard;
  uint64_t seed = 1;
  uint32_t latencyMs = 0;
  bool latencyGiven = false;  // a virtual network keeps its own latency unless one is given
  double seconds = 0;         // 0: until SIGINT or SIGTERM
  double rebootAfter = 0;     // seconds; 0: never
  double rebootEvery = 0;     // seconds; 0: never
  uint32_t bootMs = 500;      // silence after a reboot
  double silentAfter = 0;     // seconds; 0: never
  double silentFor = 0;       // seconds of silence; 0: for good
  double toggleInputsMs = 0;  // period of the handwheel selector switching X x10 / off; 0: never
  CampaignOptions campaign;
  bool verbose = false;
  std::string machineLayout;  // switches and probe surface, see card/machine_layout.h
  std::string tracePath;      // one line per 5 ms period, see card/card_trace.h
};

// Fills options from argv; prints the reason and returns false on a bad option. Sets help
// when --help was asked for (the caller prints CardServerUsage()).
bool ParseCardServerOptions(int argc, char** argv, CardServerOptions& out, bool& help);
const char* CardServerUsage();

// Where torvexan-sim runs the card it passes the card's options to.
enum class CardHost {
  kProcess,      // torvexan-card in a private network: every option but those the tool sets
  kVirtualTime,  // --fast: the card in the tool's own process, on its virtual network or bus
};

// Refuses what the model cannot do (the Lorn4 has no e-stop input to press).
bool CheckForModel(const CardServerOptions& options, sim::CardModel model, std::string* error);

// Reads torvexan-sim's --card-arg values with the card's own table. False, with a message
// naming the option, for a bad value or an option the card cannot honour where it runs.
bool ParseCardArgs(const std::vector<std::string>& args, CardHost host, CardServerOptions* out,
                   std::string* error);

}  // namespace torvexan::tools
