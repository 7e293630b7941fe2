#include "tools/torvexan-sim/private_network.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace torvexan::sim {
namespace {

bool WriteProcFile(const char* path, const std::string& text, std::string* error) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  const bool ok =
      fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (!ok) *error = std::string("cannot write ") + path + ": " + std::strerror(errno);
  if (fd >= 0) close(fd);
  return ok;
}

// Runs a command found on PATH and waits for it; true when it exits with 0.
bool RunCommand(const std::vector<const char*>& args, std::string* error) {
  std::vector<char*> argv;
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  std::string line;
  for (const char* a : args) line += std::string(line.empty() ? "" : " ") + a;
  *error = "'" + line + "' failed" +
           (WIFEXITED(status) && WEXITSTATUS(status) == 127 ? " (is iproute2 installed?)" : "");
  return false;
}

bool EnterNamespaces(std::string* error) {
  if (unshare(CLONE_NEWNET) == 0) return true;
  // Without the right to make a network namespace, become root of a new user namespace first.
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    *error = std::string("cannot create a private network namespace: ") + std::strerror(errno);
    return false;
  }
  return WriteProcFile("/proc/self/setgroups", "deny", error) &&
         WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1", error) &&
         WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1", error);
}

}  // namespace

bool EnterPrivateNetwork(std::string* error) {
  return EnterNamespaces(error) && RunCommand({"ip", "link", "set", "lo", "up"}, error) &&
         RunCommand({"ip", "route", "add", "broadcast", "255.255.255.255", "dev", "lo", "scope",
                     "link", "src", "127.0.0.1"},
                    error);
}

}  // namespace torvexan::sim
