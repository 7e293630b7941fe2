// A platform for tests: no real sockets, timers the test fires itself, a settable clock.
#pragma once

#include <string>
#include <vector>

#include "platform/menu_model.h"
#include "platform/platform.h"
#include "platform/posix/menu_model_bar.h"

namespace torvexan::testing {

// Sockets of a machine without any network: every call fails politely.
class NoNetwork : public NetApi {
 public:
  int startupCalls = 0;
  int cleanupCalls = 0;
  uint16_t grantVersion = 0x0101;
  int closeCalls = 0;

  int Startup(uint16_t, uint16_t* granted) override {
    ++startupCalls;
    *granted = grantVersion;
    return 0;
  }
  void Cleanup() override { ++cleanupCalls; }
  int HostName(char* buffer, int size) override {
    if (size > 0) buffer[0] = '\0';
    return -1;
  }
  int LookupAddresses(const char*, int, uint32_t*, int) override { return 0; }
  SocketHandle OpenUdp() override { return kInvalidSocket; }
  int Bind(SocketHandle, uint32_t, uint16_t) override { return -1; }
  int SetBroadcast(SocketHandle, bool) override { return -1; }
  int SetNonBlocking(SocketHandle) override { return -1; }
  int SendTo(SocketHandle, const uint8_t*, int, uint32_t, uint16_t) override { return -1; }
  bool IsReadable(SocketHandle) override { return false; }
  bool IsWritable(SocketHandle) override { return false; }
  int ReceiveFrom(SocketHandle, uint8_t*, int, Ipv4SocketAddress*) override { return -1; }
  int Connect(SocketHandle, const Ipv4SocketAddress&) override { return -1; }
  int Send(SocketHandle, const uint8_t*, int) override { return -1; }
  int Receive(SocketHandle, uint8_t*, int) override { return -1; }
  void Shutdown(SocketHandle) override {}
  void Close(SocketHandle) override { ++closeCalls; }
  int LastError() override { return 0; }
};

// Records started and stopped timers; the test calls the tick itself.
class ManualTimer : public WindowTimer {
 public:
  std::vector<uintptr_t> running;
  int starts = 0;
  uintptr_t nextId = 100;

  uintptr_t Start(uintptr_t, uint32_t) override {
    ++starts;
    running.push_back(nextId);
    return nextId++;
  }
  void Stop(void*, uintptr_t id) override { std::erase(running, id); }
};

class RecordingMessageBox : public MessageBox {
 public:
  std::vector<std::pair<std::string, std::string>> shown;
  int Show(const char* text, const char* caption) override {
    shown.emplace_back(text, caption);
    return 1;
  }
};

class ManualClock : public Clock {
 public:
  uint32_t nowMs = 0;
  uint32_t TickCountMs() override { return nowMs; }
};

class NoUsb : public UsbLoader {
 public:
  const UsbLibrary* Load() override { return nullptr; }
};

struct FakePlatform {
  NoNetwork net;
  ManualTimer timer;
  MenuModelBar menu;
  RecordingMessageBox messageBox;
  ManualClock clock;
  NoUsb noUsb;
  UsbLoader* usb = &noUsb;

  Platform platform() { return Platform{&net, &timer, &menu, &messageBox, &clock, usb}; }
};

}  // namespace torvexan::testing
