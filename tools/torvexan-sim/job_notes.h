// The report's part about the job itself: the tool table it ran with, its tool changes, how
// it ended, the offsets in force at its end and the warnings found while reading it. Tool
// changes and coolant appear with their times among the host's events.
#pragma once

#include <cstdio>
#include <string>

#include "sim/host/job_driver.h"

namespace torvexan::sim {

void PrintJobNotes(std::FILE* out, const Job& job, const JobCheck& check,
                   const std::string& toolsPath);

}  // namespace torvexan::sim
