// The host's main window as the plug-in sees it.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace torvexan {

// A window handle on Windows; on other systems the host hands over the small menu model
// of platform/menu_model.h, which is all the plug-in needs of its main window.
#ifdef _WIN32
using HostWindow = HWND;
#else
struct MenuBarModel;
using HostWindow = MenuBarModel*;
#endif

}  // namespace torvexan
