// Building the register-write frame and its checksum.
#include "host/modbus_frame.h"

namespace torvexan {

namespace {

constexpr uint8_t kDeviceAddress = 1;
constexpr uint8_t kWriteSingleRegister = 6;
constexpr uint16_t kCrcPolynomial = 0xA001;  // 0x8005 bit-reversed
constexpr uint16_t kCrcStart = 0xFFFF;

// Byte offsets; register and value go high byte first, the CRC low byte first.
constexpr size_t kAddressAt = 0;
constexpr size_t kFunctionAt = 1;
constexpr size_t kRegisterAt = 2;
constexpr size_t kValueAt = 4;
constexpr size_t kCrcAt = 6;
static_assert(kCrcAt + 2 == kRegisterWriteLength);

void PutBigEndian(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v >> 8);
  at[1] = static_cast<uint8_t>(v);
}

}  // namespace

uint16_t ModbusCrc16(const uint8_t* bytes, size_t length) {
  uint16_t crc = kCrcStart;
  for (size_t i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ kCrcPolynomial)
                       : static_cast<uint16_t>(crc >> 1);
    }
  }
  return crc;
}

void BuildRegisterWrite(uint16_t value, uint8_t (&frame)[kRegisterWriteLength]) {
  frame[kAddressAt] = kDeviceAddress;
  frame[kFunctionAt] = kWriteSingleRegister;
  PutBigEndian(&frame[kRegisterAt], kUserCodeRegister);
  PutBigEndian(&frame[kValueAt], value);
  const uint16_t crc = ModbusCrc16(frame, kCrcAt);
  frame[kCrcAt] = static_cast<uint8_t>(crc);
  frame[kCrcAt + 1] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace torvexan
