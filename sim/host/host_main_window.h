// The host's main window as the plug-in sees it: a menu bar with "File" and "PlugIn Control",
// the menu the plug-in adds its item to. On Windows a real (never shown) window with a Win32
// menu bar; elsewhere the small menu model the plug-in is given instead of a window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "state/host_records.h"

namespace torvexan::sim {

inline constexpr const char* kPluginMenuTitle = "PlugIn Control";

class HostMainWindow {
 public:
  HostMainWindow();
  HostMainWindow(const HostMainWindow&) = delete;
  HostMainWindow& operator=(const HostMainWindow&) = delete;
  ~HostMainWindow();

  // What the host hands over as HostFrame.MainWindow; null when no window could be made.
  HostWindow handle() const;
  // Label and command id of the last item of the "PlugIn Control" menu; false when it is empty.
  bool LastPluginItem(std::string* label, uint32_t* id) const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace torvexan::sim
