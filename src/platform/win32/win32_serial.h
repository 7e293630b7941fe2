// COM ports on Windows: the serial communications functions on a device handle.
#pragma once

#include <windows.h>

#include <cstddef>

#include "platform/serial_port.h"

namespace torvexan {

inline constexpr size_t kComPortNameLength = 128;  // characters, the NUL included

// The device name of COM<port>: \\.\COM<n>, since the bare "COM<n>" only reaches ports 1 to 9.
void ComPortDeviceName(int32_t port, wchar_t (&name)[kComPortNameLength]);

class Win32SerialPort final : public SerialPort {
 public:
  ~Win32SerialPort() override { Close(); }
  bool Open(int32_t port, int32_t baud) override;
  int Write(const uint8_t* bytes, int length) override;
  void Close() override;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace torvexan
