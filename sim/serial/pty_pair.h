// Two pseudo-terminals joined back to back by socat: what one end writes, the other reads,
// like two serial ports with a null-modem cable between them. Both ends appear as links in a
// fresh directory, so the plug-in can reach one as $TORVEXAN_SERIAL_DIR/com<n>.
#pragma once

#include <sys/types.h>

#include <string>

namespace torvexan::sim {

class PtyPair {
 public:
  // Links the ends as dir/portName and dir/deviceName. ok() tells whether socat came up.
  PtyPair(const char* portName, const char* deviceName);
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return ok_; }
  const std::string& dir() const { return dir_; }
  std::string PortPath() const { return dir_ + "/" + portName_; }
  std::string DevicePath() const { return dir_ + "/" + deviceName_; }

 private:
  std::string dir_;
  std::string portName_;
  std::string deviceName_;
  pid_t socat_ = -1;
  bool ok_ = false;
};

}  // namespace torvexan::sim
