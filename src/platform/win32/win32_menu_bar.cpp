#include "platform/win32/win32_menu_bar.h"

#include <windows.h>

namespace torvexan {

MenuHandle Win32MenuBar::MenuOf(HostWindow window) {
  return ::GetMenu(window);
}

int Win32MenuBar::ItemCount(MenuHandle menu) {
  return ::GetMenuItemCount(static_cast<HMENU>(menu));
}

bool Win32MenuBar::ItemInfo(MenuHandle menu, int position, MenuItemInfo* info, char* text,
                            uint32_t* textLength) {
  MENUITEMINFOA item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
  item.dwTypeData = text;
  item.cch = text == nullptr ? 0 : *textLength + 1;  // room for the NUL
  if (text != nullptr) text[0] = '\0';               // an item without text copies nothing
  if (!::GetMenuItemInfoA(static_cast<HMENU>(menu), static_cast<UINT>(position), TRUE, &item)) {
    return false;
  }
  info->type = item.fType;
  info->id = item.wID;
  info->submenu = item.hSubMenu;
  if (text != nullptr && item.cch > *textLength) item.cch = *textLength;
  if (text != nullptr) text[item.cch] = '\0';
  *textLength = item.cch;
  return true;
}

bool Win32MenuBar::AppendItem(MenuHandle menu, uint32_t id, const char* label) {
  return ::AppendMenuA(static_cast<HMENU>(menu), MF_STRING, id, label) != FALSE;
}

}  // namespace torvexan
