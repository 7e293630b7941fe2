// Values in G-code words beyond plain numbers: parameter references (#12, #[#1+1], ##3),
// bracketed expressions with the binary operators ** * / MOD + - EQ NE GT GE LT LE AND OR XOR
// (that order of precedence, left to right within one level), and the functions
// SIN COS TAN ASIN ACOS (degrees) ATAN[a]/[b] ABS SQRT EXP LN ROUND FIX FUP.
#pragma once

#include <string>
#include <string_view>

#include "sim/gcode/gcode_parameters.h"

namespace torvexan::sim {

// Reads one value starting at *pos (a number, '#', '[' or a function name, optionally signed)
// and advances *pos past it. False with the reason in *error.
bool ReadValue(std::string_view line, size_t* pos, const Parameters& parameters, double* value,
               std::string* error);

// True where the text at pos starts a value other than a plain number.
bool StartsComputedValue(std::string_view line, size_t pos);

}  // namespace torvexan::sim
