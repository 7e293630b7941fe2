// The menu model a host without Windows menus hands over as its main window.
#include "platform/posix/menu_model_bar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/menu_model.h"

namespace torvexan {
namespace {

class MenuModelBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Add(bar, "File", &file);
    Add(bar, "PlugIn Control", &plugins);
  }
  static void Add(MenuBarModel& m, const char* text, MenuBarModel* submenu) {
    MenuBarModel::Item& item = m.items[m.count++];
    std::strncpy(item.text, text, sizeof item.text - 1);
    item.submenu = submenu;
  }
  MenuBarModel bar{};
  MenuBarModel file{};
  MenuBarModel plugins{};
  MenuModelBar menus;
};

TEST_F(MenuModelBarTest, ReportsLengthThenCopiesTheTitle) {
  MenuHandle handle = menus.MenuOf(&bar);
  EXPECT_EQ(menus.ItemCount(handle), 2);
  MenuItemInfo info{};
  uint32_t length = 0;
  ASSERT_TRUE(menus.ItemInfo(handle, 1, &info, nullptr, &length));
  EXPECT_EQ(length, std::strlen("PlugIn Control"));
  EXPECT_EQ(info.submenu, &plugins);
  std::string text(length + 1, 'x');
  ASSERT_TRUE(menus.ItemInfo(handle, 1, &info, text.data(), &length));
  EXPECT_STREQ(text.c_str(), "PlugIn Control");
}

TEST_F(MenuModelBarTest, ASmallBufferGetsACutTerminatedCopy) {
  MenuItemInfo info{};
  uint32_t length = 4;
  char text[8];
  std::memset(text, 'x', sizeof text);
  ASSERT_TRUE(menus.ItemInfo(&bar, 1, &info, text, &length));
  EXPECT_EQ(length, 4u);
  EXPECT_STREQ(text, "Plug");
}

TEST_F(MenuModelBarTest, PositionsOutsideTheMenuAndNoMenuFail) {
  MenuItemInfo info{};
  uint32_t length = 0;
  EXPECT_FALSE(menus.ItemInfo(&bar, 2, &info, nullptr, &length));
  EXPECT_FALSE(menus.ItemInfo(&bar, -1, &info, nullptr, &length));
  EXPECT_FALSE(menus.ItemInfo(nullptr, 0, &info, nullptr, &length));
  EXPECT_EQ(menus.ItemCount(nullptr), -1);
  EXPECT_FALSE(menus.AppendItem(nullptr, 1, "x"));
}

TEST_F(MenuModelBarTest, AppendAddsACommandItemUntilTheMenuIsFull) {
  ASSERT_TRUE(menus.AppendItem(&plugins, 4711, "QvLorn5"));
  ASSERT_EQ(plugins.count, 1);
  EXPECT_STREQ(plugins.items[0].text, "QvLorn5");
  EXPECT_EQ(plugins.items[0].id, 4711u);
  EXPECT_EQ(plugins.items[0].submenu, nullptr);
  const std::string longLabel(200, 'L');  // longer than an item holds: cut, terminated
  ASSERT_TRUE(menus.AppendItem(&plugins, 1, longLabel.c_str()));
  EXPECT_EQ(std::strlen(plugins.items[1].text), sizeof plugins.items[1].text - 1);
  while (plugins.count < MenuBarModel::kMaxItems) ASSERT_TRUE(menus.AppendItem(&plugins, 2, "x"));
  EXPECT_FALSE(menus.AppendItem(&plugins, 3, "one too many"));
}

}  // namespace
}  // namespace torvexan
