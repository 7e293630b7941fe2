#include "tools/torvexan-sim/console_log.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include "sim/host/job_text.h"
#include "xml/code_page.h"

namespace torvexan::sim {
namespace {

constexpr uint32_t kCodePageGb2312 = 936;
constexpr size_t kReadChunk = 4096;

}  // namespace

ConsoleLog::~ConsoleLog() {
  End();
  if (file_ != nullptr) std::fclose(file_);
}

bool ConsoleLog::Begin(const std::string& path, std::string* error) {
  file_ = std::fopen(path.c_str(), "w+b");
  if (file_ == nullptr) {
    *error = "cannot write the plug-in's log " + path;
    return false;
  }
#ifndef _WIN32
  std::fflush(stdout);
  savedFd_ = dup(STDOUT_FILENO);
  if (savedFd_ < 0 || dup2(fileno(file_), STDOUT_FILENO) < 0) {
    *error = "cannot send standard output to " + path;
    return false;
  }
#endif
  return true;
}

void ConsoleLog::End() {
#ifndef _WIN32
  if (savedFd_ < 0) return;
  std::fflush(stdout);
  dup2(savedFd_, STDOUT_FILENO);
  close(savedFd_);
  savedFd_ = -1;
#endif
}

void ConsoleLog::Write(const std::string& line) {
  if (file_ == nullptr) return;
#ifndef _WIN32
  // Standard output and the file share one offset: written through the descriptor, the
  // lines stay in the order they came.
  std::fflush(stdout);
  const std::string text = line + "\n";
  if (::write(fileno(file_), text.data(), text.size()) < 0) return;
#else
  std::fprintf(file_, "%s\n", line.c_str());
  std::fflush(file_);
#endif
}

std::string ConsoleLog::TakeNewLines() {
  std::string text;
#ifndef _WIN32
  if (file_ == nullptr) return text;
  std::fflush(stdout);
  char chunk[kReadChunk];
  for (ssize_t n; (n = pread(fileno(file_), chunk, sizeof chunk, readOffset_)) > 0;) {
    text.append(chunk, static_cast<size_t>(n));
    readOffset_ += n;
  }
  const size_t lastNewline = text.rfind('\n');
  const size_t keep = lastNewline == std::string::npos ? 0 : lastNewline + 1;
  readOffset_ -= static_cast<long>(text.size() - keep);  // a partial line waits for its end
  text.resize(keep);
#endif
  return text;
}

std::string StatusTextUtf8(const std::string& bytes) {
  std::string utf8;
  bool loss = false;
  if (!ConvertCodePage(kCodePageGb2312, kCodePageUtf8, bytes, utf8, loss) || loss) {
    return PrintableText(bytes);
  }
  return utf8;
}

}  // namespace torvexan::sim
