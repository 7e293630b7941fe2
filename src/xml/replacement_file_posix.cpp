// Replacing a file on POSIX: mkstemp beside it, fsync, rename.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "xml/replacement_file.h"

namespace torvexan {
namespace {

constexpr const char* kTemporarySuffix = ".XXXXXX";

// The folder of a path, for syncing the rename itself.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ReplacementFile::Open(const std::string& target) {
  Abandon();
  error_ = 0;
  // Write through a symbolic link to the file it names, so the link itself stays.
  char resolved[PATH_MAX];
  target_ = realpath(target.c_str(), resolved) ? std::string(resolved) : target;
  struct stat existing {};
  const bool exists = stat(target_.c_str(), &existing) == 0;
  if (exists && access(target_.c_str(), W_OK) != 0) {
    error_ = errno;
    return false;
  }
  temporary_ = target_ + kTemporarySuffix;
  const int fd = mkstemp(temporary_.data());
  if (fd < 0) {
    error_ = errno;
    temporary_.clear();
    return false;
  }
  if (exists) fchmod(fd, existing.st_mode & 07777);
  stream_ = fdopen(fd, "wb");
  if (!stream_) {
    error_ = errno;
    close(fd);
    Abandon();
    return false;
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (!stream_) return false;
  bool ok = std::fflush(stream_) == 0 && fsync(fileno(stream_)) == 0;
  if (!ok) error_ = errno;
  if (std::fclose(stream_) != 0 && ok) {
    error_ = errno;
    ok = false;
  }
  stream_ = nullptr;
  if (ok && std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    error_ = errno;
    ok = false;
  }
  if (!ok) {
    Abandon();
    return false;
  }
  temporary_.clear();
  const int folder = open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}

void ReplacementFile::Abandon() {
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  temporary_.clear();
}

}  // namespace torvexan

#endif  // _WIN32
