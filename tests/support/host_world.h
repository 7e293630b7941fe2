// The host side of a test: the four records, a menu bar and the callbacks, owned by the test.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "state/host_records.h"
#include "host/plugin.h"
#include "platform/menu_model.h"

namespace torvexan::testing {

struct HostWorld {
  std::unique_ptr<HostMachine> machine = std::make_unique<HostMachine>();
  std::unique_ptr<HostDoubles> doubles = std::make_unique<HostDoubles>();
  std::unique_ptr<HostControl> control = std::make_unique<HostControl>();
  std::unique_ptr<HostFrame> frame = std::make_unique<HostFrame>();
  MenuBarModel menuBar{};
  MenuBarModel pluginMenu{};
  HostBool fullSpeedJog = 0;

  HostWorld() {
    *machine = HostMachine{};
    *doubles = HostDoubles{};
    *control = HostControl{};
    *frame = HostFrame{};
    frame->MainWindow = &menuBar;
    frame->FullSpeedJog = &fullSpeedJog;
  }

  // Adds a top-level menu with a submenu (the plug-in menu when the title matches).
  MenuBarModel* AddMenu(const char* title, MenuBarModel* submenu) {
    MenuBarModel::Item& item = menuBar.items[menuBar.count++];
    item = MenuBarModel::Item{};
    std::strncpy(item.text, title, sizeof item.text - 1);
    item.submenu = submenu;
    return submenu;
  }
};

// Callback recording shared by the tests of one program (callbacks carry no context).
struct HostCallbacks {
  static std::vector<std::string>& Codes() {
    static std::vector<std::string> codes;
    return codes;
  }
  static int& MenuRangeCalls() {
    static int calls = 0;
    return calls;
  }
  static void Code(const char* text) { Codes().emplace_back(text); }
  static int MenuRange(int count) {
    ++MenuRangeCalls();
    return 3000 + count;
  }
};

// Runs the host's start-up order on a plug-in: SetProName, callbacks, InitControl,
// PostInitControl.
inline void StartPlugin(Plugin& plugin, HostWorld& world, const char* settingsPath = nullptr) {
  HostCallbacks::Codes().clear();
  if (settingsPath) plugin.SetProName(settingsPath);
  plugin.SetCode(&HostCallbacks::Code);
  plugin.SetGetMenuRange(&HostCallbacks::MenuRange);
  plugin.InitControl(world.machine.get(), world.doubles.get(), world.control.get(),
                     world.frame.get());
  plugin.PostInitControl();
}

}  // namespace torvexan::testing
