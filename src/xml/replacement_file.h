// A file's new contents, gathered in memory and put in place of the file only once complete, so
// that a failed or interrupted write never leaves the file truncated.
#pragma once

#include <string>
#include <string_view>

namespace torvexan {

class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile() { Abandon(); }
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Starts new contents for `target`; false (with the system error) when an existing target may
  // not be written.
  bool Open(const std::string& target);
  void Append(std::string_view bytes) { contents_.append(bytes); }
  // Puts the contents in place of the target: written to a temporary file beside it, flushed to
  // disk and moved over it, keeping the target's permissions. Where the folder takes no new file
  // but the target itself is writable, the target is rewritten in place, and put back as it was
  // should that fail. On failure the target is untouched and no temporary file is left.
  bool Commit();
  // Drops the contents; the target stays as it was.
  void Abandon();
  int Error() const { return error_; }

 private:
  bool WriteInPlace();

  std::string target_;
  std::string contents_;
  bool open_ = false;
  bool targetExists_ = false;
  int error_ = 0;
};

}  // namespace torvexan
