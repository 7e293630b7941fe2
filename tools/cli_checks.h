// Range checks for CLI11 options whose refusal reads as a short range ("between 0 and 1"),
// shared by torvexan-card and torvexan-sim.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

namespace torvexan::tools {

inline std::string ShortNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

// lo <= value <= hi; with above set, lo < value.
inline CLI::Validator Between(double lo, double hi, bool above = false) {
  const std::string range = (above ? "above " : "between ") + ShortNumber(lo) +
                            (above ? " up to " : " and ") + ShortNumber(hi);
  return CLI::Validator(
      [lo, hi, above, range](std::string& text) -> std::string {
        double v = 0;
        if (!CLI::detail::lexical_cast(text, v)) return "'" + text + "' is not a number";
        if (v > hi || v < lo || (above && v <= lo) || v != v) {
          return "must be " + range + ", not " + text;
        }
        return std::string();
      },
      range);
}

}  // namespace torvexan::tools
