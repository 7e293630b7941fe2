// Numbers as the generated programs write them: rounded to a few decimals, no "-0".
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace torvexan::gcodediff {

inline double Round(double v, int digits) {
  const double f = std::pow(10.0, digits);
  return std::round(v * f) / f;
}

inline std::string Num(double v, int digits = 4) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, Round(v, digits));
  std::string s = text;
  if (s[0] == '-' && std::strtod(s.c_str(), nullptr) == 0.0) s = s.substr(1);
  return s;
}

}  // namespace torvexan::gcodediff
