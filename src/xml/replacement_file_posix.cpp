// Replacing a file on POSIX: mkstemp beside it, fsync, rename; in place when the folder refuses.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
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

// Writes all bytes at an offset; false with errno set on failure.
bool WriteAllAt(int fd, std::string_view bytes, off_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
    offset += n;
  }
  return true;
}

bool ReadAll(int fd, std::string& out) {
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof(chunk));
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(chunk, static_cast<size_t>(n));
  }
}

}  // namespace

bool ReplacementFile::Open(const std::string& target) {
  Abandon();
  error_ = 0;
  // Write through a symbolic link to the file it names, so the link itself stays.
  char resolved[PATH_MAX];
  target_ = realpath(target.c_str(), resolved) ? std::string(resolved) : target;
  struct stat existing {};
  targetExists_ = stat(target_.c_str(), &existing) == 0;
  if (targetExists_ && access(target_.c_str(), W_OK) != 0) {
    error_ = errno;
    return false;
  }
  open_ = true;
  return true;
}

bool ReplacementFile::Commit() {
  if (!open_) return false;
  std::string temporary = target_ + kTemporarySuffix;
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    // A profile made writable for its user inside a folder that is not.
    const bool folderRefuses = errno == EACCES || errno == EPERM;
    error_ = errno;
    const bool ok = folderRefuses && targetExists_ && WriteInPlace();
    Abandon();
    return ok;
  }
  struct stat existing {};
  if (targetExists_ && stat(target_.c_str(), &existing) == 0) fchmod(fd, existing.st_mode & 07777);
  bool ok = WriteAllAt(fd, contents_, 0) && fsync(fd) == 0;
  if (!ok) error_ = errno;
  if (close(fd) != 0 && ok) {
    error_ = errno;
    ok = false;
  }
  if (ok && std::rename(temporary.c_str(), target_.c_str()) != 0) {
    error_ = errno;
    ok = false;
  }
  if (!ok) {
    std::remove(temporary.c_str());
    Abandon();
    return false;
  }
  Abandon();
  const int folder = open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}

// Without a temporary file the old contents are kept in memory, to be written back should the
// new ones not fit.
bool ReplacementFile::WriteInPlace() {
  const int fd = open(target_.c_str(), O_RDWR);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  std::string original;
  bool ok = ReadAll(fd, original);
  if (ok) {
    ok = WriteAllAt(fd, contents_, 0) && ftruncate(fd, static_cast<off_t>(contents_.size())) == 0 &&
         fsync(fd) == 0;
    if (!ok) {
      const int failure = errno;
      if (WriteAllAt(fd, original, 0)) ftruncate(fd, static_cast<off_t>(original.size()));
      errno = failure;
    }
  }
  if (!ok) error_ = errno;
  if (close(fd) != 0 && ok) {
    error_ = errno;
    ok = false;
  }
  if (ok) error_ = 0;
  return ok;
}

void ReplacementFile::Abandon() {
  contents_.clear();
  open_ = false;
}

}  // namespace torvexan

#endif  // _WIN32
