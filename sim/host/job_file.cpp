#include "sim/host/job_file.h"

#include "sim/host/job_text.h"

namespace torvexan::sim {

bool LoadJobFile(const std::string& path, Job* job, std::string* error,
                 const std::vector<ToolEntry>& tools, std::string_view init) {
  std::string text;
  if (!ReadJobText(path, &text, error)) return false;
  *job = ParseJob(text, tools, {}, init);
  return true;
}

std::string FormatJobError(const std::string& fileName, const JobError& error) {
  // Line 0 is before the file's first line: the machine's initialization string.
  const std::string line = error.line > 0 ? ":" + std::to_string(error.line) : std::string();
  return PrintableText(fileName + line + ": " + error.message);
}

}  // namespace torvexan::sim
