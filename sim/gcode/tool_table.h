// The tool table (torvexan-sim --tools FILE), one tool a line in the usual text form
// "T<n> P<pocket> D<diameter> Z<length> ;comment", lengths and diameters in millimetres.
// Words may come in any order; P, D and Z default to 0; blank lines and comments are fine.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/gcode/job_file.h"

namespace torvexan::sim {

// False, with "line N: reason" in *error, on a line that is not a tool.
bool ParseToolTable(std::string_view text, std::vector<ToolEntry>* tools, std::string* error);
bool LoadToolTable(const std::string& path, std::vector<ToolEntry>* tools, std::string* error);

// G10 L1: tool number's entry gets the radius (the diameter is twice it) and the length
// that are given (null: kept); a tool not in the table is added.
void SetToolEntry(std::vector<ToolEntry>* tools, int number, const double* radius,
                  const double* length);

}  // namespace torvexan::sim
