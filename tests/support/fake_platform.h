// A platform for tests: no real sockets, timers the test fires itself, a settable clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/menu_model.h"
#include "platform/platform.h"
#include "platform/posix/dialog_model_runner.h"
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

// A COM port that records what is opened, written and closed; refuses to open when told to.
class RecordingSerialPort : public SerialPort {
 public:
  bool refuseOpen = false;
  bool isOpen = false;
  int opens = 0;
  int closes = 0;
  int32_t port = 0;
  int32_t baud = 0;
  std::vector<std::vector<uint8_t>> writes;  // one entry per Write call

  bool Open(int32_t p, int32_t b) override {
    ++opens;
    port = p;
    baud = b;
    isOpen = !refuseOpen;
    return isOpen;
  }
  int Write(const uint8_t* bytes, int length) override {
    if (!isOpen) return -1;
    writes.emplace_back(bytes, bytes + length);
    return length;
  }
  void Close() override {
    if (isOpen) ++closes;
    isOpen = false;
  }
};

struct FakePlatform {
  NoNetwork net;
  ManualTimer timer;
  MenuModelBar menu;
  RecordingMessageBox messageBox;
  ManualClock clock;
  NoUsb noUsb;
  UsbLoader* usb = &noUsb;
  RecordingSerialPort serial;
  DialogModel dialog;  // where the plug-in's dialogs open; the test plays the user
  DialogModelRunner dialogs;

  Platform platform() {
    dialogs.SetModel(&dialog);
    return Platform{&net, &timer, &menu, &messageBox, &clock, usb, &serial, &dialogs};
  }
};

}  // namespace torvexan::testing
