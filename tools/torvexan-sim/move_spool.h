// The moves the host ran after a probe's trip point changed the job, kept in a file in the
// run's work folder as they are planned: a long job's moves need not stay in memory until the
// plot is drawn.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "sim/host/job_driver.h"

namespace torvexan::sim {

class MoveSpool final : public CheckObserver {
 public:
  // An empty spool that writes to path once the first move comes.
  explicit MoveSpool(std::string path) : path_(std::move(path)) {}
  ~MoveSpool() override;
  MoveSpool(const MoveSpool&) = delete;
  MoveSpool& operator=(const MoveSpool&) = delete;

  void Move(const PathSegment& s) override;
  size_t size() const { return count_; }
  // Whether every move reached the file.
  bool whole() const { return !failed_; }
  // Every move, in the order they came; false when the file could not be read back whole.
  bool ForEach(const std::function<void(const PathSegment&)>& take);
  // Lets go of the file, so that the work folder can be removed.
  void Close();

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  size_t count_ = 0;
  bool failed_ = false;
};

}  // namespace torvexan::sim
