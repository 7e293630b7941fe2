// The plain-language findings of a run: what the survey and the USB check mean for the user,
// shared by the text and the JSON report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check_report.h"

namespace torvexan::check {

inline constexpr const char* kFirstLine =
    "torvexan-check: reads the card only (discovery, connect handshake, status polls); it never "
    "sends motion.";

struct Finding {
  Level level;
  std::string text;
};

std::vector<Finding> EthernetFindings(const CheckReport& r);
std::vector<Finding> UsbFindings(const CheckReport& r);
// The card asked for is not there: what was seen instead. Empty when it is there.
std::string MissingCardText(const CheckReport& r);
enum class Outcome { kNoCard, kProblems, kHealthy, kFoundUntested };
Outcome Judge(const CheckReport& r);
// The one-line result that goes with the exit status.
const char* Summary(Outcome o);

// The card model's name for a model code of the card session.
const char* ModelName(uint32_t cardType);

// Distinct cards among the discovery replies (one card answers once per local address).
int DistinctCards(const EthReport& r);

}  // namespace torvexan::check
