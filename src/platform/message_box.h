// Modal message boxes without owner window, OK button only (Linux: a line on standard error).
#pragma once

namespace torvexan {

class MessageBox {
 public:
  virtual ~MessageBox() = default;
  // Returns the box's result (the OK button's id once dismissed).
  virtual int Show(const char* text, const char* caption) = 0;
};

}  // namespace torvexan
