// The virtual card as a child process: started with its model and run time, its output
// collected, stopped with SIGTERM, on which it prints its statistics.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace torvexan::sim {

class CardProcess {
 public:
  CardProcess() = default;
  CardProcess(const CardProcess&) = delete;
  CardProcess& operator=(const CardProcess&) = delete;
  ~CardProcess() { Stop(); }

  // Starts program with args; false (reason in *error) when it cannot run or exits at once.
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string* error);
  // Collects whatever the card printed so far; never waits.
  void Poll();
  bool Running();
  // SIGTERM, then its last output; SIGKILL when it does not end within a few seconds.
  void Stop();

  const std::string& output() const { return output_; }
  // Exit status text such as "exited with 0" or "killed by signal 9"; empty while running.
  const std::string& exitText() const { return exitText_; }

 private:
  void Reap(int status);

  pid_t pid_ = -1;
  int outFd_ = -1;
  std::string output_;
  std::string exitText_;
};

// The number on the last line of the card's output that names the figure (case ignored),
// "underruns: 3", "underruns=3" or "3 underruns" alike.
std::optional<long long> CardFigure(const std::string& output, const std::string& name);

}  // namespace torvexan::sim
