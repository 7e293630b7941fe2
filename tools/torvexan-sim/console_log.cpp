#include "tools/torvexan-sim/console_log.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "sim/gcode/gcode.h"
#include "xml/code_page.h"

namespace torvexan::sim {
namespace {

constexpr uint32_t kCodePageGb2312 = 936;
constexpr size_t kReadChunk = 4096;

}  // namespace

ConsoleLog::~ConsoleLog() {
  End();
  if (reader_ != nullptr) std::fclose(reader_);
  if (file_ != nullptr) std::fclose(file_);
}

bool ConsoleLog::Begin(const std::string& path, std::string* error) {
  path_ = path;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    *error = "cannot write the plug-in's log " + path;
    return false;
  }
  std::fflush(stdout);
  // Standard output becomes the log; the plug-in shares this program's C runtime and with it
  // descriptor 1 (a plug-in with a runtime of its own keeps its console).
  savedFd_ = dup(fileno(stdout));
  if (savedFd_ < 0 || dup2(fileno(file_), fileno(stdout)) < 0) {
    *error = "cannot send standard output to " + path;
    return false;
  }
  return true;
}

void ConsoleLog::End() {
  if (savedFd_ < 0) return;
  std::fflush(stdout);
  dup2(savedFd_, fileno(stdout));
  close(savedFd_);
  savedFd_ = -1;
}

void ConsoleLog::Write(const std::string& line) {
  if (file_ == nullptr) return;
  // Standard output and the log share one file position: written through the descriptor
  // once standard output is flushed, the lines stay in the order they came.
  std::fflush(stdout);
  const std::string text = line + "\n";
  if (write(fileno(file_), text.data(), static_cast<unsigned>(text.size())) < 0) return;
}

std::string ConsoleLog::TakeNewLines() {
  if (file_ == nullptr) return std::string();
  std::fflush(stdout);
  // A reader of its own keeps its own position in the file.
  if (reader_ == nullptr) reader_ = std::fopen(path_.c_str(), "rb");
  if (reader_ == nullptr) return std::string();
  std::clearerr(reader_);
  char chunk[kReadChunk];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, reader_)) > 0;) partial_.append(chunk, n);
  // A line still being written waits for its end.
  const size_t lastNewline = partial_.rfind('\n');
  if (lastNewline == std::string::npos) return std::string();
  std::string lines = partial_.substr(0, lastNewline + 1);
  partial_.erase(0, lastNewline + 1);
  return lines;
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
