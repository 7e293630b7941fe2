#pragma once

#include "platform/menu_bar.h"

namespace torvexan {

// The menu bar of a host that hands over a MenuBarModel as its main window.
class MenuModelBar final : public MenuBar {
 public:
  MenuHandle MenuOf(HostWindow window) override { return window; }
  int ItemCount(MenuHandle menu) override;
  bool ItemInfo(MenuHandle menu, int position, MenuItemInfo* info, char* text,
                uint32_t* textLength) override;
  bool AppendItem(MenuHandle menu, uint32_t id, const char* label) override;
};

}  // namespace torvexan
