// The machine's Modbus accessory: a libmodbus RTU device (address 1, 8E1) on one end of a
// pseudo-terminal pair whose other end the plug-in reaches as $TORVEXAN_SERIAL_DIR/com1. It
// serves requests on a thread of its own for as long as the run lasts and keeps what it was
// asked to write.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/modbus_peer.h"
#include "serial/pty_pair.h"
#include "sim/host/machine_setup.h"

namespace torvexan::sim {

class ModbusDevice {
 public:
  ModbusDevice() = default;
  ~ModbusDevice() { Stop(0, 0); }
  ModbusDevice(const ModbusDevice&) = delete;
  ModbusDevice& operator=(const ModbusDevice&) = delete;

  // Joins the pseudo-terminals, opens the device and starts serving. False, with the reason,
  // when socat or the device cannot start; the run goes on without it.
  bool Start(std::string* error);
  // The directory that holds com1, for TORVEXAN_SERIAL_DIR.
  std::string Dir() const { return pty_ ? pty_->dir() : std::string(); }
  // Waits up to waitMs until `expected` requests have been served, then stops serving.
  std::vector<ModbusRequest> Stop(size_t expected, int waitMs);

 private:
  void Serve();

  std::unique_ptr<PtyPair> pty_;
  std::unique_ptr<ModbusPeer> peer_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<ModbusRequest> requests_;
};

}  // namespace torvexan::sim
