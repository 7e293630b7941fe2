// Puts the plug-in's item into the host's plug-in menu.
#pragma once

#include "platform/menu_bar.h"

namespace torvexan {

inline constexpr const char* kPluginMenuTitle = "PlugIn Control";
// The same title in GB2312, as a Chinese host shows it.
inline constexpr const char* kPluginMenuTitleGb = "\xB2\xE5\xBC\xFE\xBF\xD8\xD6\xC6";
inline constexpr const char* kMenuLabelEnglish = "QvLorn5";
inline constexpr const char* kMenuLabelChinese = "Quorvanta Motion Card";

// Appends the item with the given command id to the first top-level menu titled as above.
// Returns whether an item was added.
bool InsertPluginMenuItem(MenuBar& menus, HostWindow mainWindow, uint32_t commandId);

}  // namespace torvexan
