#include "tools/torvexan-sim/modbus_device.h"

#include <chrono>
#include <string>

namespace torvexan::sim {
namespace {

constexpr int kReceiveSliceMs = 50;  // how often the serving thread looks at the stop flag

}  // namespace

bool ModbusDevice::Start(std::string* error) {
  pty_ = std::make_unique<PtyPair>(("com" + std::to_string(kComPort)).c_str(), "device");
  if (!pty_->ok()) {
    *error = "socat could not join two pseudo-terminals";
    pty_.reset();
    return false;
  }
  peer_ = std::make_unique<ModbusPeer>(pty_->DevicePath().c_str(), kComBaud);
  if (!peer_->ok()) {
    *error = "libmodbus could not open " + pty_->DevicePath();
    peer_.reset();
    pty_.reset();
    return false;
  }
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void ModbusDevice::Serve() {
  while (!stop_) {
    ModbusRequest r{};
    if (!peer_->Receive(kReceiveSliceMs, &r)) continue;
    const std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(r);
  }
}

std::vector<ModbusRequest> ModbusDevice::Stop(size_t expected, int waitMs) {
  if (thread_.joinable()) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (requests_.size() >= expected) break;
      }
      if (std::chrono::steady_clock::now() >= until) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop_ = true;
    thread_.join();
  }
  peer_.reset();
  pty_.reset();
  const std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

}  // namespace torvexan::sim
