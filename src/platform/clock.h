// The system's millisecond tick count, a free-running unsigned 32-bit value.
#pragma once

#include <cstdint>

namespace torvexan {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickCountMs() = 0;
};

}  // namespace torvexan
