#include "tools/torvexan-sim/job_notes.h"

#include <filesystem>
#include <fstream>

namespace torvexan::sim {
namespace {

constexpr const char* kAxisNames = "XYZABC";

// "X 10.000 Y -5.000" for the axes that are not 0; "none" when all are. An inch job's linear
// axes in inches with millimetres beside: "X 0.3937 in (X 10.000 mm) A 90.000".
std::string Offsets(const double* values, const ReportUnits& units) {
  std::string linear, mm, rotary;
  char part[48];
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (values[a] == 0.0) continue;
    const bool inches = units.inches && a < 3;
    std::string& text = a < 3 ? linear : rotary;
    std::snprintf(part, sizeof part, inches ? "%s%c %.4f" : "%s%c %.3f", text.empty() ? "" : " ",
                  kAxisNames[a], inches ? values[a] / kMmPerInch : values[a]);
    text += part;
    if (!inches) continue;
    std::snprintf(part, sizeof part, "%s%c %.3f", mm.empty() ? "" : " ", kAxisNames[a], values[a]);
    mm += part;
  }
  std::string text = linear;
  if (!mm.empty()) text += " in (" + mm + " mm)";
  if (!rotary.empty()) text += (text.empty() ? "" : " ") + rotary;
  return text.empty() ? "none" : text;
}

// "2.500 mm", or "0.0984 in (2.500 mm)" for an inch job.
std::string ToolLengthWords(double mm, const ReportUnits& units) {
  char text[64];
  if (units.inches) {
    std::snprintf(text, sizeof text, "%.4f in (%.3f mm)", mm / kMmPerInch, mm);
  } else {
    std::snprintf(text, sizeof text, "%.3f mm", mm);
  }
  return text;
}

void PrintTools(std::FILE* out, const Job& job, int toolAtEnd, const std::string& toolsPath,
                const char* when) {
  if (toolsPath.empty()) {
    std::fprintf(out, "%-15s none given: every tool has length and diameter 0\n", "tool table");
  } else {
    std::fprintf(out, "%-15s %s: %zu tools\n", "tool table", toolsPath.c_str(), job.tools.size());
  }
  std::string list;
  for (int t : job.tally.toolsChanged) list += (list.empty() ? "" : ", ") + std::to_string(t);
  std::fprintf(out, "%-15s %d (tools %s), tool %d in the spindle at the %s\n", "tool changes",
               job.tally.toolChanges, list.empty() ? "none" : list.c_str(), toolAtEnd, when);
}

}  // namespace

void PrintJobNotes(std::FILE* out, const Job& job, const WorkOffsets& offsets, int tool,
                   const std::string& toolsPath, const ReportUnits& units, bool atStop) {
  PrintTools(out, job, tool, toolsPath, atStop ? "stop" : "end");
  std::fprintf(out, "%-15s %s\n", "program end",
               job.ended ? "M2/M30" : "none: the job ran to the end of the file");
  const WorkOffsets& o = offsets;
  std::fprintf(out, "%-15s G%d: %s\n", atStop ? "offsets at stop" : "offsets at end",
               53 + o.active(), Offsets(o.system(o.active()), units).c_str());
  std::fprintf(out, "%-15s G92 %s%s; tool length %s\n", "", Offsets(o.g92(), units).c_str(),
               o.g92Applied() ? "" : " (suspended, G92.2)",
               ToolLengthWords(o.toolLength(), units).c_str());
  for (int s = 1; s <= kCoordinateSystemCount; ++s) {
    if (s == o.active() || Offsets(o.system(s), units) == "none") continue;
    std::fprintf(out, "%-15s G%d: %s\n", "", 53 + s, Offsets(o.system(s), units).c_str());
  }
  for (const JobWarning& w : job.warnings) {
    std::fprintf(out, "%-15s line %d: %s\n", "warning", w.line, w.message.c_str());
  }
}

void WriteProbeLog(std::FILE* out, const Job& job, const std::string& jobPath,
                   const std::string& dir, const std::vector<ProbeResult>& probes,
                   const HostControl& limits, bool usbCard) {
  if (!job.tally.probeLog) return;
  if (dir.empty()) {
    std::fprintf(out, "%-15s not written (--no-files)\n", "probe log");
    return;
  }
  const std::string path = (std::filesystem::path(dir) /
                            (std::filesystem::path(jobPath).stem().string() + "-probe-log.txt"))
                               .string();
  std::ofstream log(path);
  int count = 0;
  char line[160];
  for (const ProbeResult& p : probes) {
    if (!p.logged || !p.contact) continue;
    double at[3];
    for (int a = 0; a < 3; ++a) {
      at[a] = (usbCard ? p.stoppedAt[a] : p.probeCounts[a]) / limits.StepsPerUnit[a];
    }
    std::snprintf(line, sizeof line, "%.4f %.4f %.4f\n", at[0], at[1], at[2]);
    log << line;
    ++count;
  }
  std::fprintf(out, "%-15s %d trip points written to %s%s\n", "probe log", count, path.c_str(),
               log ? "" : " (COULD NOT WRITE)");
}

}  // namespace torvexan::sim
