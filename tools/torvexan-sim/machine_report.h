// The report's lines about the machine the job ran on: which one, and how far the job moves
// each axis against its travel.
#pragma once

#include <cstdio>
#include <string>

#include "sim/host/travel_check.h"
#include "tools/torvexan-sim/report_words.h"

namespace torvexan::sim {

struct MachineFacts {
  std::string name;  // the machine file, or empty for the built-in machine
  AxisTravel travel[kHostAxisCount];
  AxisExtent extents[kHostAxisCount];  // of the job as checked before it ran
};

// The program's extents in the job's units (inches for an inch job's X, Y and Z), the
// machine's and the travel in millimetres.
void PrintMachine(std::FILE* out, const MachineFacts& m, const ReportUnits& units);

}  // namespace torvexan::sim
