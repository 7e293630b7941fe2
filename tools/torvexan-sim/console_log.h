// The plug-in's console: what it prints on standard output while it runs (its packet lines,
// its link counters) goes to a log file instead of through the progress bar and the report.
#pragma once

#include <cstdio>
#include <string>

namespace torvexan::sim {

class ConsoleLog {
 public:
  ConsoleLog() = default;
  ConsoleLog(const ConsoleLog&) = delete;
  ConsoleLog& operator=(const ConsoleLog&) = delete;
  ~ConsoleLog();  // gives standard output back if End was not called

  // Sends standard output to the file at path from now on. False, with the reason, when the
  // file cannot be written.
  bool Begin(const std::string& path, std::string* error);
  // Standard output as before.
  void End();
  // A line of the host's own (a status text) into the log.
  void Write(const std::string& line);
  // Complete lines added to the file since the last call, for --verbose.
  std::string TakeNewLines();

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  std::FILE* reader_ = nullptr;  // --verbose: what was written, read from the start on
  std::string partial_;          // the start of a line not yet complete
  int savedFd_ = -1;
};

// Status texts are GB2312 bytes, the plug-in's system's code page: UTF-8 for a terminal or
// a report, bytes that do not decode as \xNN.
std::string StatusTextUtf8(const std::string& bytes);

}  // namespace torvexan::sim
