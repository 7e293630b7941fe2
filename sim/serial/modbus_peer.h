// A Modbus RTU device on a serial line, played by libmodbus: device address 1, 128 holding
// registers, 8 data bits, even parity, one stop bit. It answers every request it accepts.
#pragma once

#include <cstdint>

struct _modbus;
struct _modbus_mapping_t;

namespace torvexan::sim {

// One request the device accepted (address and CRC right).
struct ModbusRequest {
  int function;
  int reg;    // first register
  int value;  // the register's value after the request was served
};

class ModbusPeer {
 public:
  static constexpr int kRegisterCount = 128;

  ModbusPeer(const char* device, int baud);
  ~ModbusPeer();
  ModbusPeer(const ModbusPeer&) = delete;
  ModbusPeer& operator=(const ModbusPeer&) = delete;

  bool ok() const { return ctx_ != nullptr && map_ != nullptr; }
  // Waits up to timeoutMs for the next request and serves it. False on time-out or on a
  // request libmodbus refuses (a bad CRC among them); error() says why.
  bool Receive(int timeoutMs, ModbusRequest* request);
  const char* error() const { return error_; }

 private:
  _modbus* ctx_ = nullptr;
  _modbus_mapping_t* map_ = nullptr;
  const char* error_ = "";
};

}  // namespace torvexan::sim
