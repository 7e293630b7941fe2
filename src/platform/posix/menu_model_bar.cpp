#include "platform/posix/menu_model_bar.h"

#include <cstring>

#include "platform/menu_model.h"

namespace torvexan {

namespace {
constexpr uint32_t kStringItem = 0;  // the only item type of the model
}

int MenuModelBar::ItemCount(MenuHandle menu) {
  return menu == nullptr ? -1 : static_cast<MenuBarModel*>(menu)->count;
}

bool MenuModelBar::ItemInfo(MenuHandle menu, int position, MenuItemInfo* info, char* text,
                            uint32_t* textLength) {
  auto* model = static_cast<MenuBarModel*>(menu);
  if (model == nullptr || position < 0 || position >= model->count) return false;
  const MenuBarModel::Item& item = model->items[position];
  info->type = kStringItem;
  info->id = item.id;
  info->submenu = item.submenu;
  const uint32_t length = static_cast<uint32_t>(strnlen(item.text, sizeof item.text));
  if (text == nullptr) {
    *textLength = length;
    return true;
  }
  const uint32_t n = length < *textLength ? length : *textLength;
  std::memcpy(text, item.text, n);
  text[n] = '\0';
  *textLength = n;
  return true;
}

bool MenuModelBar::AppendItem(MenuHandle menu, uint32_t id, const char* label) {
  auto* model = static_cast<MenuBarModel*>(menu);
  if (model == nullptr || model->count < 0 || model->count >= MenuBarModel::kMaxItems) return false;
  MenuBarModel::Item& item = model->items[model->count++];
  item = MenuBarModel::Item{};
  std::strncpy(item.text, label, sizeof item.text - 1);
  item.id = id;
  return true;
}

}  // namespace torvexan
