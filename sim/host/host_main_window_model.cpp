#include "sim/host/host_main_window.h"

#include <cstring>

#include "platform/menu_model.h"

namespace torvexan::sim {

struct HostMainWindow::Parts {
  MenuBarModel bar{};
  MenuBarModel fileMenu{};
  MenuBarModel pluginMenu{};
};

namespace {

void AddMenu(MenuBarModel& bar, const char* title, MenuBarModel* submenu) {
  MenuBarModel::Item& item = bar.items[bar.count++];
  item = MenuBarModel::Item{};
  std::strncpy(item.text, title, sizeof item.text - 1);
  item.submenu = submenu;
}

}  // namespace

HostMainWindow::HostMainWindow() : parts_(std::make_unique<Parts>()) {
  AddMenu(parts_->bar, "File", &parts_->fileMenu);
  AddMenu(parts_->bar, kPluginMenuTitle, &parts_->pluginMenu);
}

HostMainWindow::~HostMainWindow() = default;

HostWindow HostMainWindow::handle() const {
  return &parts_->bar;
}

bool HostMainWindow::LastPluginItem(std::string* label, uint32_t* id) const {
  const MenuBarModel& menu = parts_->pluginMenu;
  if (menu.count <= 0) return false;
  const MenuBarModel::Item& item = menu.items[menu.count - 1];
  *label = item.text;
  *id = item.id;
  return true;
}

}  // namespace torvexan::sim
