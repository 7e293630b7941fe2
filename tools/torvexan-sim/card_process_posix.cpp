#include "tools/torvexan-sim/card_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torvexan::sim {
namespace {

constexpr size_t kMaxOutputBytes = 1 << 20;  // a card that talks a lot keeps its last MiB
constexpr int kStartCheckMs = 200;           // a card that cannot start has ended by then
constexpr int kStopWaitMs = 3000;

void SleepMs(int ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

}  // namespace

bool CardProcess::Start(const std::string& program, const std::vector<std::string>& args,
                        std::string* error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    execv(program.c_str(), argv.data());
    const std::string message = "cannot run " + program + ": " + std::strerror(errno) + "\n";
    (void)!write(STDERR_FILENO, message.data(), message.size());
    _exit(127);
  }
  close(fds[1]);
  outFd_ = fds[0];
  fcntl(outFd_, F_SETFL, fcntl(outFd_, F_GETFL) | O_NONBLOCK);
  SleepMs(kStartCheckMs);
  if (!Running()) {
    Poll();
    *error = "torvexan-card " + exitText_ + ": " + output_;
    return false;
  }
  return true;
}

void CardProcess::Poll() {
  if (outFd_ < 0) return;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(outFd_, buffer, sizeof buffer);
    if (n > 0) {
      output_.append(buffer, static_cast<size_t>(n));
      if (output_.size() > kMaxOutputBytes) output_.erase(0, output_.size() - kMaxOutputBytes);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      close(outFd_);
      outFd_ = -1;
    }
    return;
  }
}

void CardProcess::Reap(int status) {
  pid_ = -1;
  if (WIFEXITED(status)) {
    exitText_ = "exited with " + std::to_string(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    exitText_ = "killed by signal " + std::to_string(WTERMSIG(status));
  }
}

bool CardProcess::Running() {
  if (pid_ < 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    Reap(status);
    return false;
  }
  return true;
}

void CardProcess::Stop() {
  if (Running()) {
    kill(pid_, SIGTERM);
    for (int waited = 0; waited < kStopWaitMs && Running(); waited += 10) {
      Poll();
      SleepMs(10);
    }
    if (Running()) {
      kill(pid_, SIGKILL);
      int status = 0;
      if (waitpid(pid_, &status, 0) == pid_) Reap(status);
    }
  }
  // The pipe may still hold the last lines, written just before the card ended.
  for (int waited = 0; outFd_ >= 0 && waited < kStopWaitMs; ++waited) {
    Poll();
    if (outFd_ >= 0) SleepMs(1);
  }
  if (outFd_ >= 0) close(outFd_);
  outFd_ = -1;
}

}  // namespace torvexan::sim
