// The libmodbus side of the serial tests.
#include "serial/modbus_peer.h"

#include <modbus.h>

#include <cerrno>

namespace torvexan::sim {

namespace {
constexpr int kDeviceAddress = 1;
constexpr int kFunctionAt = 1;  // in an RTU request, after the address byte
constexpr int kRegisterAt = 2;
}  // namespace

ModbusPeer::ModbusPeer(const char* device, int baud) {
  ctx_ = modbus_new_rtu(device, baud, 'E', 8, 1);
  if (ctx_ == nullptr) return;
  if (modbus_set_slave(ctx_, kDeviceAddress) != 0 || modbus_connect(ctx_) != 0) {
    modbus_free(ctx_);
    ctx_ = nullptr;
    return;
  }
  map_ = modbus_mapping_new(0, 0, kRegisterCount, 0);
}

ModbusPeer::~ModbusPeer() {
  if (map_ != nullptr) modbus_mapping_free(map_);
  if (ctx_ != nullptr) {
    modbus_close(ctx_);
    modbus_free(ctx_);
  }
}

bool ModbusPeer::Receive(int timeoutMs, ModbusRequest* request) {
  if (!ok()) return false;
  modbus_set_indication_timeout(ctx_, static_cast<uint32_t>(timeoutMs / 1000),
                                static_cast<uint32_t>(timeoutMs % 1000) * 1000u);
  uint8_t adu[MODBUS_RTU_MAX_ADU_LENGTH];
  const int n = modbus_receive(ctx_, adu);
  if (n <= 0) {
    error_ = modbus_strerror(errno);
    return false;
  }
  if (modbus_reply(ctx_, adu, n, map_) < 0) {
    error_ = modbus_strerror(errno);
    return false;
  }
  request->function = adu[kFunctionAt];
  request->reg = (adu[kRegisterAt] << 8) | adu[kRegisterAt + 1];
  request->value = request->reg < kRegisterCount ? map_->tab_registers[request->reg] : -1;
  return true;
}

}  // namespace torvexan::sim
