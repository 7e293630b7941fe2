// The link test's figures judged against what streaming needs.
#pragma once

#include "check_report.h"

namespace torvexan::check {

// Fills the round-trip figures and one verdict per figure.
void JudgeLink(LinkReport& r);

}  // namespace torvexan::check
