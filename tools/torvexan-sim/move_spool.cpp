#include "tools/torvexan-sim/move_spool.h"

#include <type_traits>

namespace torvexan::sim {

// The file is read back by the process that wrote it: the records go as they lie in memory.
static_assert(std::is_trivially_copyable_v<PathSegment>);

MoveSpool::~MoveSpool() {
  Close();
}

void MoveSpool::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  failed_ = failed_ || count_ > 0;  // what was written is gone with the file
}

void MoveSpool::Move(const PathSegment& s) {
  ++count_;
  if (failed_) return;
  if (file_ == nullptr) file_ = std::fopen(path_.c_str(), "w+b");
  failed_ = file_ == nullptr || std::fwrite(&s, sizeof s, 1, file_) != 1;
}

bool MoveSpool::ForEach(const std::function<void(const PathSegment&)>& take) {
  if (failed_) return false;
  if (count_ == 0) return true;
  if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) return false;
  PathSegment s;
  size_t read = 0;
  while (read < count_ && std::fread(&s, sizeof s, 1, file_) == 1) {
    take(s);
    ++read;
  }
  std::fseek(file_, 0, SEEK_END);  // later moves go after these
  return read == count_;
}

}  // namespace torvexan::sim
