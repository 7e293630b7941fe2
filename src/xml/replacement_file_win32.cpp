// Replacing a file on Windows: a temporary file in the same folder, then MoveFileEx.
#ifdef _WIN32

#include <io.h>
#include <windows.h>

#include "xml/replacement_file.h"

namespace torvexan {
namespace {

constexpr const char* kTemporaryPrefix = "tvx";

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

}  // namespace

bool ReplacementFile::Open(const std::string& target) {
  Abandon();
  error_ = 0;
  target_ = target;
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    error_ = ERROR_ACCESS_DENIED;
    return false;
  }
  char temporary[MAX_PATH];
  if (GetTempFileNameA(FolderOf(target).c_str(), kTemporaryPrefix, 0, temporary) == 0) {
    error_ = static_cast<int>(GetLastError());
    return false;
  }
  temporary_ = temporary;
  stream_ = std::fopen(temporary_.c_str(), "wb");
  if (!stream_) {
    error_ = static_cast<int>(GetLastError());
    Abandon();
    return false;
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (!stream_) return false;
  bool ok = std::fflush(stream_) == 0 && _commit(_fileno(stream_)) == 0;
  if (!ok) error_ = static_cast<int>(GetLastError());
  if (std::fclose(stream_) != 0 && ok) {
    error_ = static_cast<int>(GetLastError());
    ok = false;
  }
  stream_ = nullptr;
  if (ok && !MoveFileExA(temporary_.c_str(), target_.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error_ = static_cast<int>(GetLastError());
    ok = false;
  }
  if (!ok) {
    Abandon();
    return false;
  }
  temporary_.clear();
  return true;
}

void ReplacementFile::Abandon() {
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) DeleteFileA(temporary_.c_str());
  temporary_.clear();
}

}  // namespace torvexan

#endif  // _WIN32
