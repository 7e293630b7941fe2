// Modal message boxes without owner window, OK button only (Linux: a line on standard error).
#pragma once

#ifdef _WIN32
#include <windows.h>
// The interface below shares its name with the Win32 macro; whichever header brings windows.h
// first, the name stays ours (the Win32 layer calls MessageBoxA by its full name).
#undef MessageBox
#endif

namespace torvexan {

class MessageBox {
 public:
  virtual ~MessageBox() = default;
  // Returns the box's result (the OK button's id once dismissed).
  virtual int Show(const char* text, const char* caption) = 0;
};

}  // namespace torvexan
