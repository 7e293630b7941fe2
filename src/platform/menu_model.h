// The small menu model a host on a system without Windows menus hands to the plug-in as its
// main window. Fixed capacity: nothing is allocated while the plug-in appends to it.
#pragma once

#include <cstdint>

namespace torvexan {

struct MenuBarModel {
  static constexpr int kMaxItems = 32;
  static constexpr int kMaxText = 64;
  struct Item {
    char text[kMaxText];
    uint32_t id;
    MenuBarModel* submenu;  // null for a command item
  };
  Item items[kMaxItems];
  int count;
};

}  // namespace torvexan
