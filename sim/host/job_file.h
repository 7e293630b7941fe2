// Job files: the small G-code dialect the simulated host runs. Straight moves G0 (rapid) and
// G1 (feed rate F in units per minute) with absolute X Y Z A B C words, and dwells G4 P
// (seconds). G17, G21, G90 and G94 are accepted and change nothing; M2 and M30 end the job.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "state/host_records.h"

namespace torvexan::sim {

struct JobStep {
  enum class Kind { kMove, kDwell };
  Kind kind;
  int line;                       // 1-based line in the job file
  bool rapid;                     // G0: as fast as the axes allow
  double target[kHostAxisCount];  // absolute units, every axis (unnamed axes keep their place)
  double feedPerMinute;           // G1 only
  double seconds;                 // G4 only
};

struct JobError {
  int line;
  std::string message;
};

struct Job {
  std::vector<JobStep> steps;
  std::vector<JobError> errors;  // every bad line, in file order
};

Job ParseJob(std::string_view text);

// Reads and parses a file; false (reason in *error) when it cannot be read.
bool LoadJobFile(const std::string& path, Job* job, std::string* error);

// "demo.nc:12: unknown word 'Q'"
std::string FormatJobError(const std::string& fileName, const JobError& error);

}  // namespace torvexan::sim
