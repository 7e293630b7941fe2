// The report's part about the job itself: the tool table it ran with, its tool changes, how
// it ended, the offsets in force at its end and the warnings found while reading it. Tool
// changes and coolant appear with their times among the host's events.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "sim/host/job_driver.h"
#include "tools/torvexan-sim/report_words.h"

namespace torvexan::sim {

// offsets and tool: what the job ended with (atStop: at the stop that ended it); lengths in
// the job's units.
void PrintJobNotes(std::FILE* out, const Job& job, const WorkOffsets& offsets, int tool,
                   const std::string& toolsPath, const ReportUnits& units = {},
                   bool atStop = false);

// Mach3's probe log: the trip points of the probes taken between M40 and M41, one a line
// ("X Y Z" in machine units), written to <job name>-probe-log.txt in the run folder dir when
// the job opened the log (nowhere when dir is empty: --no-files); the report names the file. A
// USB card reports no trip point: there the log holds where the machine came to rest.
void WriteProbeLog(std::FILE* out, const Job& job, const std::string& jobPath,
                   const std::string& dir, const std::vector<ProbeResult>& probes,
                   const HostControl& limits, bool usbCard);

}  // namespace torvexan::sim
