// COM ports on POSIX systems: termios ttys, found by the name Wine gives COM<n>
// (/dev/ttyS<n-1>) or, when TORVEXAN_SERIAL_DIR is set, as $TORVEXAN_SERIAL_DIR/com<n>, a
// link a user or a test makes to any tty, pseudo-terminal or USB adapter.
#pragma once

#include <cstddef>

#include "platform/serial_port.h"

namespace torvexan {

inline constexpr const char* kSerialDirVariable = "TORVEXAN_SERIAL_DIR";

// The device path of COM<port>; dir is the value of TORVEXAN_SERIAL_DIR or null. False when
// the port has no device (numbers below 1) or the path does not fit.
bool SerialDevicePath(int32_t port, const char* dir, char* path, size_t capacity);

class PosixSerialPort final : public SerialPort {
 public:
  ~PosixSerialPort() override { Close(); }
  bool Open(int32_t port, int32_t baud) override;
  int Write(const uint8_t* bytes, int length) override;
  void Close() override;

 private:
  int fd_ = -1;
  bool exclusive_ = false;  // we hold the lock and made the tty exclusive
};

}  // namespace torvexan
