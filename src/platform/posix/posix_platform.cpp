// The POSIX platform: BSD sockets, a dispatched timer list, the menu and dialog models, message
// boxes on standard error, a monotonic millisecond clock, libusb-1.0.so.0 loaded with dlopen and
// termios serial ports.
#include <dlfcn.h>
#include <time.h>

#include <cstdio>

#include "platform/posix/dialog_model_runner.h"
#include "platform/posix/menu_model_bar.h"
#include "platform/posix/posix_net.h"
#include "platform/posix/posix_serial.h"
#include "platform/posix/timer_list.h"
#include "platform/system_platform.h"
#include "platform/usb_loader_table.h"

namespace torvexan {

namespace {

constexpr int kMessageBoxOk = 1;

uint32_t MonotonicMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000u +
                               static_cast<uint64_t>(t.tv_nsec) / 1000000u);
}

class StderrMessageBox final : public MessageBox {
 public:
  int Show(const char* text, const char* caption) override {
    std::fprintf(stderr, "[%s] %s\n", caption, text);
    return kMessageBoxOk;
  }
};

class MonotonicClock final : public Clock {
 public:
  uint32_t TickCountMs() override { return MonotonicMs(); }
};

class DlopenUsbLoader final : public UsbLoader {
 public:
  ~DlopenUsbLoader() override {
    if (handle_ != nullptr) dlclose(handle_);
  }
  const UsbLibrary* Load() override {
    if (tried_) return loaded_ ? &table_ : nullptr;
    tried_ = true;
    handle_ = dlopen("libusb-1.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return nullptr;
    loaded_ = FillUsbLibrary(table_, [this](const char* name) { return dlsym(handle_, name); });
    return loaded_ ? &table_ : nullptr;
  }

 private:
  void* handle_ = nullptr;
  bool tried_ = false;
  bool loaded_ = false;
  UsbLibrary table_{};
};

}  // namespace

struct SystemPlatform::Parts {
  Parts(TimerProc tick, void* context) : timer(tick, context, &MonotonicMs) {}
  PosixNet net;
  TimerList timer;
  MenuModelBar menu;
  StderrMessageBox messageBox;
  MonotonicClock clock;
  DlopenUsbLoader usb;
  PosixSerialPort serial;
  DialogModelRunner dialogs;
};

SystemPlatform::SystemPlatform(TimerProc tick, void* context)
    : parts_(std::make_unique<Parts>(tick, context)) {
  platform_ = Platform{&parts_->net,   &parts_->timer, &parts_->menu,   &parts_->messageBox,
                       &parts_->clock, &parts_->usb,   &parts_->serial, &parts_->dialogs};
}

SystemPlatform::~SystemPlatform() = default;

int SystemPlatform::DispatchTimers() {
  return parts_->timer.Dispatch();
}

void SystemPlatform::SetDialogModel(DialogModel* model) {
  parts_->dialogs.SetModel(model);
}

}  // namespace torvexan
