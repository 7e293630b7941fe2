// The report as plain text for the user, or as JSON for a support request.
#pragma once

#include <cstdio>

#include "check_report.h"

namespace torvexan::check {

void WriteText(std::FILE* out, const CheckReport& r);
void WriteJson(std::FILE* out, const CheckReport& r);

// The link test's progress, on one line that each call overwrites.
void WriteProgress(std::FILE* out, const LinkReport& r, double secondsRun);

}  // namespace torvexan::check
