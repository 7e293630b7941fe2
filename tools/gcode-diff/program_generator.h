// Seeded random G-code programs over the dialect that Mach3 and LinuxCNC read alike: lines,
// arcs by centre and by radius in the three planes (helices too), absolute and incremental
// distances, G92 and its variants, G54 to G59 with G10 L2 and L20, G53, tool changes with
// G43/G49, canned cycles, parameters and expressions, and subprograms after M30.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/gcode/gcode.h"

namespace torvexan::gcodediff {

struct GeneratedProgram {
  std::string text;
  std::string toolTable;  // as a user writes it: "T1 P1 D6.35 Z42.5", mm
};

GeneratedProgram GenerateProgram(uint64_t seed, int statements);

}  // namespace torvexan::gcodediff
