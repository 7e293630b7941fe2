#include "sim/gcode/job_file.h"

#include "sim/gcode/job_text.h"

namespace torvexan::sim {

bool LoadJobFile(const std::string& path, Job* job, std::string* error,
                 const std::vector<ToolEntry>& tools, std::string_view init) {
  std::string text;
  if (!ReadJobText(path, &text, error)) return false;
  *job = ParseJobText(std::move(text), tools, init);
  return true;
}

std::string FormatJobError(const std::string& fileName, const JobError& error) {
  // Line 0 is before the file's first line: the machine's initialization string. Built by
  // appending: GCC 12 warns falsely (-Wrestrict) about a literal put before a temporary.
  std::string text = fileName;
  if (error.line > 0) {
    text += ':';
    text += std::to_string(error.line);
  }
  text += ": ";
  text += error.message;
  return PrintableText(text);
}

}  // namespace torvexan::sim
