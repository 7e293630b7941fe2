// The Win32 platform: Winsock 1.1, window timers on the host's thread, the menus of the
// host's main window, message boxes, dialogs from the module's templates, GetTickCount,
// libusb-1.0.dll loaded at run time from safe folders and the serial communications functions.
#include <windows.h>

#include <string>
#include <utility>

#include "platform/system_platform.h"
#include "platform/usb_loader_table.h"
#include "platform/win32/win32_dialogs.h"
#include "platform/win32/win32_menu_bar.h"
#include "platform/win32/win32_net.h"
#include "platform/win32/win32_serial.h"
#include "platform/win32/win32_usb_search.h"

namespace torvexan {

namespace {

// Window timers without owner window. Every timer still alive when the plug-in goes away is
// killed, so that no tick reaches a library the host has already unloaded.
class Win32WindowTimer final : public WindowTimer {
 public:
  static constexpr int kMaxTimers = 8;

  explicit Win32WindowTimer(NativeTimerProc tick) : tick_(tick) {}
  ~Win32WindowTimer() override {
    for (UINT_PTR& id : live_) {
      if (id != 0) ::KillTimer(nullptr, id);
      id = 0;
    }
  }

  uintptr_t Start(uintptr_t id, uint32_t periodMs) override {
    UINT_PTR* slot = Find(0);
    if (slot == nullptr) return 0;
    *slot = ::SetTimer(nullptr, id, periodMs, tick_);
    return *slot;
  }

  void Stop(void* window, uintptr_t id) override {
    ::KillTimer(static_cast<HWND>(window), id);
    if (window != nullptr) return;  // only timers without owner window are ours
    if (UINT_PTR* slot = Find(id)) *slot = 0;
  }

 private:
  UINT_PTR* Find(UINT_PTR id) {
    for (UINT_PTR& live : live_) {
      if (live == id) return &live;
    }
    return nullptr;
  }

  NativeTimerProc tick_;
  UINT_PTR live_[kMaxTimers] = {};
};

class Win32MessageBox final : public MessageBox {
 public:
  int Show(const char* text, const char* caption) override {
    return ::MessageBoxA(nullptr, text, caption, MB_OK);
  }
};

class TickCountClock final : public Clock {
 public:
  uint32_t TickCountMs() override { return ::GetTickCount(); }
};

// libusb-1.0.dll from the safe folders only (win32_usb_search.h).
class Win32UsbLoader final : public UsbLoader {
 public:
  // The plug-in's own folder, searched after the program's.
  void SetPluginFolder(std::string folder) { pluginFolder_ = std::move(folder); }

  ~Win32UsbLoader() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }

  const UsbLibrary* Load() override {
    if (tried_) return loaded_ ? &table_ : nullptr;
    tried_ = true;
    module_ = LoadUsbLibrary(UsbLibraryFolders(pluginFolder_));
    if (module_ == nullptr) return nullptr;
    loaded_ = FillUsbLibrary(table_, [this](const char* name) {
      return reinterpret_cast<void*>(::GetProcAddress(module_, name));
    });
    return loaded_ ? &table_ : nullptr;
  }

 private:
  std::string pluginFolder_;
  HMODULE module_ = nullptr;
  bool tried_ = false;
  bool loaded_ = false;
  UsbLibrary table_{};
};

}  // namespace

struct SystemPlatform::Parts {
  Parts(NativeTimerProc tick, DLGPROC dialogProc)
      : timer(tick), dialogs(::GetModuleHandleA(nullptr), dialogProc) {}
  Win32Net net;
  Win32WindowTimer timer;
  Win32MenuBar menu;
  Win32MessageBox messageBox;
  TickCountClock clock;
  Win32UsbLoader usb;
  Win32SerialPort serial;
  Win32DialogRunner dialogs;
};

SystemPlatform::SystemPlatform(NativeTimerProc tick, DLGPROC dialogProc)
    : parts_(std::make_unique<Parts>(tick, dialogProc)) {
  platform_ = Platform{&parts_->net,   &parts_->timer, &parts_->menu,   &parts_->messageBox,
                       &parts_->clock, &parts_->usb,   &parts_->serial, &parts_->dialogs};
}

SystemPlatform::~SystemPlatform() = default;

int SystemPlatform::DispatchTimers() {
  return -1;
}

void SystemPlatform::SetModule(HMODULE module) {
  parts_->dialogs.SetModule(module);
  parts_->usb.SetPluginFolder(ModuleFolder(module));
}

void SystemPlatform::SetUsbPluginFolder(const char* folder) {
  parts_->usb.SetPluginFolder(folder);
}

INT_PTR SystemPlatform::DialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return parts_->dialogs.Message(window, message, wParam, lParam);
}

}  // namespace torvexan
