// The menu bar of the host's main window, a Win32 window with a menu: the plug-in's own
// platform and a host that links the plug-in in both use it.
#pragma once

#include "platform/menu_bar.h"

namespace torvexan {

class Win32MenuBar final : public MenuBar {
 public:
  MenuHandle MenuOf(HostWindow window) override;
  int ItemCount(MenuHandle menu) override;
  bool ItemInfo(MenuHandle menu, int position, MenuItemInfo* info, char* text,
                uint32_t* textLength) override;
  bool AppendItem(MenuHandle menu, uint32_t id, const char* label) override;
};

}  // namespace torvexan
