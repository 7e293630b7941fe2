#include "host/menu_insertion.h"

#include <cstdlib>
#include <cstring>

namespace torvexan {

bool InsertPluginMenuItem(MenuBar& menus, HostWindow mainWindow, uint32_t commandId) {
  MenuHandle bar = menus.MenuOf(mainWindow);
  if (bar == nullptr) return false;
  const int count = menus.ItemCount(bar);
  for (int position = 0; position < count; ++position) {
    MenuItemInfo info{};
    uint32_t length = 0;
    if (!menus.ItemInfo(bar, position, &info, nullptr, &length)) continue;
    // Titles are compared byte for byte; the text is fetched once its length is known.
    char* text = static_cast<char*>(std::calloc(size_t{length} + 1, 1));
    if (text == nullptr) continue;
    uint32_t capacity = length;
    if (!menus.ItemInfo(bar, position, &info, text, &capacity)) {
      std::free(text);
      continue;
    }
    const char* label = nullptr;
    if (std::strcmp(text, kPluginMenuTitle) == 0) {
      label = kMenuLabelEnglish;
    } else if (std::strcmp(text, kPluginMenuTitleGb) == 0) {
      label = kMenuLabelChinese;
    }
    std::free(text);
    if (label != nullptr) {
      return info.submenu != nullptr && menus.AppendItem(info.submenu, commandId, label);
    }
  }
  return false;
}

}  // namespace torvexan
