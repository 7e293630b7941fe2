// The report's lines about the machine the job ran on: which one, and how far the job moves
// each axis against its travel.
#pragma once

#include <cstdio>
#include <string>

#include "sim/host/travel_check.h"

namespace torvexan::sim {

struct MachineFacts {
  std::string name;  // the machine file, or empty for the built-in machine
  AxisTravel travel[kHostAxisCount];
  AxisExtent extents[kHostAxisCount];  // of the job as checked before it ran
};

void PrintMachine(std::FILE* out, const MachineFacts& m);

}  // namespace torvexan::sim
