#include "tools/torvexan-sim/report_words.h"

#include "sim/gcode/gcode.h"

namespace torvexan::sim {

std::string JobTime(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

double JobSecondsOfCard(double cardMs, double cardMsAtJobStart) {
  return (cardMs - cardMsAtJobStart) / 1000.0;
}

namespace {

std::string Values(const char* letters, const double* values, int count) {
  std::string text;
  char part[48];
  for (int i = 0; i < count; ++i) {
    std::snprintf(part, sizeof part, "%s%c %.4f", i == 0 ? "" : " ", letters[i], values[i]);
    text += part;
  }
  return text;
}

}  // namespace

std::string Lengths(const char* letters, const double* mm, int count, const ReportUnits& units) {
  if (!units.inches) return Values(letters, mm, count);
  std::vector<double> inches(mm, mm + count);
  for (double& v : inches) v /= kMmPerInch;
  return Values(letters, inches.data(), count) + " in (" + Values(letters, mm, count) + " mm)";
}

std::string Length(double mm, const ReportUnits& units) {
  char text[64];
  if (units.inches) {
    std::snprintf(text, sizeof text, "%.4f in (%.4f mm)", mm / kMmPerInch, mm);
  } else {
    std::snprintf(text, sizeof text, "%.4f", mm);
  }
  return text;
}

const char* UnitName(const ReportUnits& units) {
  return units.inches ? "in" : "mm";
}

void PrintWarnings(std::FILE* out, const std::vector<std::string>& warnings) {
  for (const std::string& w : warnings) std::fprintf(out, "%-15s %s\n", "warning", w.c_str());
}

}  // namespace torvexan::sim
