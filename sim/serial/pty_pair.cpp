// Starting and stopping the socat that joins the two pseudo-terminals.
#include "serial/pty_pair.h"

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace torvexan::sim {

namespace {

constexpr auto kStartLimit = std::chrono::seconds(5);
constexpr auto kPollPeriod = std::chrono::milliseconds(10);

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

PtyPair::PtyPair(const char* portName, const char* deviceName)
    : portName_(portName), deviceName_(deviceName) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/torvexan-pty-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return;
  dir_ = pattern;
  // raw, no echo: bytes pass unchanged in both directions.
  std::string a = "pty,raw,echo=0,link=" + PortPath();
  std::string b = "pty,raw,echo=0,link=" + DevicePath();
  char socat[] = "socat";
  char* argv[] = {socat, a.data(), b.data(), nullptr};
  if (::posix_spawnp(&socat_, "socat", nullptr, nullptr, argv, environ) != 0) {
    socat_ = -1;
    return;
  }
  const auto until = std::chrono::steady_clock::now() + kStartLimit;
  while (!(Exists(PortPath()) && Exists(DevicePath()))) {
    int status = 0;
    if (::waitpid(socat_, &status, WNOHANG) == socat_) {  // socat missing or failed
      socat_ = -1;
      return;
    }
    if (std::chrono::steady_clock::now() > until) return;
    std::this_thread::sleep_for(kPollPeriod);
  }
  ok_ = true;
}

PtyPair::~PtyPair() {
  if (socat_ > 0) {
    ::kill(socat_, SIGTERM);
    ::waitpid(socat_, nullptr, 0);
  }
  if (dir_.empty()) return;
  ::unlink(PortPath().c_str());
  ::unlink(DevicePath().c_str());
  ::rmdir(dir_.c_str());
}

}  // namespace torvexan::sim
