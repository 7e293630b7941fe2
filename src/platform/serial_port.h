// One serial COM port, opened for a single write and closed again. The line is always
// 8 data bits, even parity, one stop bit, no flow control, DTR and RTS held off.
#pragma once

#include <cstdint>

namespace torvexan {

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Opens COM<port> at baud with the line settings and read time-outs of the Modbus output.
  // False when the port is missing, held by someone else or refuses a setting; nothing stays
  // open then.
  virtual bool Open(int32_t port, int32_t baud) = 0;
  // Writes the bytes in one call; returns the count written or -1.
  virtual int Write(const uint8_t* bytes, int length) = 0;
  // Closes the open port; harmless when none is open.
  virtual void Close() = 0;
};

}  // namespace torvexan
