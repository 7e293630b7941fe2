// A file written beside its target and moved over it only once complete, so that a failed or
// interrupted write never leaves the target truncated.
#pragma once

#include <cstdio>
#include <string>

namespace torvexan {

class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile() { Abandon(); }
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the temporary file next to `target`; false (with the system error) on failure.
  bool Open(const std::string& target);
  std::FILE* Stream() const { return stream_; }
  // Flushes the data to disk and puts the file in place of the target, keeping the target's
  // permission bits. On failure the target is untouched and the temporary file is removed.
  bool Commit();
  // Drops the temporary file; the target stays as it was.
  void Abandon();
  int Error() const { return error_; }

 private:
  std::string target_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
  int error_ = 0;
};

}  // namespace torvexan
