// The host main window's menu bar: query its top-level items and append to a submenu.
#pragma once

#include <cstdint>

#include "platform/host_window.h"

namespace torvexan {

using MenuHandle = void*;

struct MenuItemInfo {
  uint32_t type;
  uint32_t id;
  MenuHandle submenu;
};

class MenuBar {
 public:
  virtual ~MenuBar() = default;
  virtual MenuHandle MenuOf(HostWindow window) = 0;
  virtual int ItemCount(MenuHandle menu) = 0;
  // Asks for the item at a position. With text null only *textLength (without the NUL) is
  // reported; otherwise up to *textLength + 1 bytes of text are copied. False on failure.
  virtual bool ItemInfo(MenuHandle menu, int position, MenuItemInfo* info, char* text,
                        uint32_t* textLength) = 0;
  // Appends a text item with a command id at the end of a (sub)menu.
  virtual bool AppendItem(MenuHandle menu, uint32_t id, const char* label) = 0;
};

}  // namespace torvexan
