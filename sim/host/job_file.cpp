#include "sim/host/job_file.h"

#include <fstream>
#include <sstream>

namespace torvexan::sim {

bool LoadJobFile(const std::string& path, Job* job, std::string* error,
                 const std::vector<ToolEntry>& tools) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open job file " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  *job = ParseJob(text.str(), tools);
  return true;
}

std::string FormatJobError(const std::string& fileName, const JobError& error) {
  return fileName + ":" + std::to_string(error.line) + ": " + error.message;
}

}  // namespace torvexan::sim
