// The Modbus RTU frame a user code sends to the COM port: device 1, function 6 (write single
// register), register 100, the value, CRC-16/MODBUS.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvexan {

inline constexpr size_t kRegisterWriteLength = 8;
inline constexpr uint16_t kUserCodeRegister = 100;

// CRC-16/MODBUS: reflected polynomial 0xA001, start 0xFFFF, no final XOR.
uint16_t ModbusCrc16(const uint8_t* bytes, size_t length);

// Fills frame with the write of value to kUserCodeRegister on device 1.
void BuildRegisterWrite(uint16_t value, uint8_t (&frame)[kRegisterWriteLength]);

}  // namespace torvexan
