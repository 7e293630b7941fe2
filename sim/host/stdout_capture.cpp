#include "sim/host/stdout_capture.h"

#include <unistd.h>

#include <cstdio>

namespace torvexan::sim {

namespace {

constexpr int kReadChunk = 4096;

}  // namespace

StdoutCapture::~StdoutCapture() {
  End();
}

bool StdoutCapture::Begin() {
  if (savedFd_ >= 0) return false;
  // A file rather than a pipe: a call that prints more than a pipe holds must not block.
  char path[] = "/tmp/torvexan-stdout-XXXXXX";
  captureFd_ = mkstemp(path);
  if (captureFd_ < 0) return false;
  unlink(path);
  std::fflush(stdout);
  savedFd_ = dup(STDOUT_FILENO);
  if (savedFd_ < 0 || dup2(captureFd_, STDOUT_FILENO) < 0) {
    if (savedFd_ >= 0) close(savedFd_);
    close(captureFd_);
    savedFd_ = captureFd_ = -1;
    return false;
  }
  return true;
}

std::string StdoutCapture::End() {
  if (savedFd_ < 0) return std::string();
  std::fflush(stdout);
  dup2(savedFd_, STDOUT_FILENO);
  close(savedFd_);
  savedFd_ = -1;
  std::string text;
  if (lseek(captureFd_, 0, SEEK_SET) == 0) {
    char chunk[kReadChunk];
    for (ssize_t n; (n = read(captureFd_, chunk, sizeof chunk)) > 0;) {
      text.append(chunk, static_cast<size_t>(n));
    }
  }
  close(captureFd_);
  captureFd_ = -1;
  return text;
}

}  // namespace torvexan::sim
