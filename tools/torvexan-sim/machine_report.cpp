#include "tools/torvexan-sim/machine_report.h"

#include <cmath>

namespace torvexan::sim {
namespace {

constexpr int kLinearAxes = 3;  // X, Y and Z; A, B and C are in degrees whatever G20 says

std::string Range(double low, double high) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f .. %.3f", low, high);
  return text;
}

// A travel end that is not there reads "none".
std::string End(double v) {
  if (std::fabs(v) >= kUnlimitedTravel) return "none";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

std::string TravelText(const AxisTravel& t) {
  return t.Limited() ? End(t.min) + " .. " + End(t.max) : "unlimited";
}

}  // namespace

void PrintMachine(std::FILE* out, const MachineFacts& m, const ReportUnits& units) {
  std::fprintf(out, "%-15s %s\n", "machine",
               m.name.empty() ? "built-in (no --machine file)" : m.name.c_str());
  std::fprintf(out, "extents  %-24s %-24s %s\n", units.inches ? "program (in)" : "program",
               units.inches ? "machine (mm)" : "machine", "travel");
  for (int a = 0; a < kHostAxisCount; ++a) {
    const AxisExtent& e = m.extents[a];
    if (!e.moved) continue;
    const double scale = units.inches && a < kLinearAxes ? 1.0 / kMmPerInch : 1.0;
    std::fprintf(out, "%c        %-24s %-24s %s\n", kAxisLetters[a],
                 Range(e.programMin * scale, e.programMax * scale).c_str(),
                 Range(e.machineMin, e.machineMax).c_str(), TravelText(m.travel[a]).c_str());
  }
}

}  // namespace torvexan::sim
