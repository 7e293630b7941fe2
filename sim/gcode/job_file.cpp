#include "sim/gcode/job_file.h"

#include "sim/gcode/job_text.h"

namespace torvexan::sim {

bool LoadJobFile(const std::string& path, Job* job, std::string* error,
                 const std::vector<ToolEntry>& tools) {
  std::string text;
  if (!ReadJobText(path, &text, error)) return false;
  *job = ParseJob(text, tools);
  return true;
}

std::string FormatJobError(const std::string& fileName, const JobError& error) {
  return PrintableText(fileName + ":" + std::to_string(error.line) + ": " + error.message);
}

}  // namespace torvexan::sim
