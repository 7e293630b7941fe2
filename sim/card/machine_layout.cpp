#include "card/machine_layout.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace torvexan::sim {
namespace {

bool ApplyTilt(const std::string& item, Machine* machine, std::string* error) {
  int axis = -1;
  double rise = 0.0;
  int used = 0;
  const bool read = std::sscanf(item.c_str(), "tilt:%d:%lf%n", &axis, &rise, &used) == 2 &&
                    used == static_cast<int>(item.size());
  if (!read || axis < 0 || axis >= kMaxAxes || !std::isfinite(rise)) {
    *error = "machine item '" + item + "' is not tilt:AXIS:RISE";
    return false;
  }
  machine->probeTilt[axis] = rise;
  return true;
}

}  // namespace

bool ApplyMachineLayout(const std::string& layout, Machine* machine, std::string* error) {
  size_t start = 0;
  while (start < layout.size()) {
    size_t end = layout.find(',', start);
    if (end == std::string::npos) end = layout.size();
    const std::string item = layout.substr(start, end - start);
    start = end + 1;
    if (item.rfind("tilt:", 0) == 0) {
      if (!ApplyTilt(item, machine, error)) return false;
      continue;
    }
    char kind[8] = {};
    char side[8] = {};
    int axis = -1;
    long steps = 0;
    int used = 0;
    const bool read = std::sscanf(item.c_str(), "%7[a-z]:%d:%ld:%7[a-z]%n", kind, &axis, &steps,
                                  side, &used) == 4 &&
                      used == static_cast<int>(item.size());
    const bool below = std::strcmp(side, "below") == 0;
    const bool sideOk = below || std::strcmp(side, "above") == 0;
    if (!read || !sideOk || axis < 0 || axis >= kMaxAxes) {
      *error = "machine item '" + item + "' is not home|probe:AXIS:STEPS:below|above";
      return false;
    }
    if (std::strcmp(kind, "home") == 0) {
      machine->SetHome(axis, static_cast<int32_t>(steps), below);
    } else if (std::strcmp(kind, "probe") == 0) {
      machine->SetProbeSurface(axis, static_cast<int32_t>(steps), below);
    } else {
      *error = "machine item '" + item + "' is neither home nor probe";
      return false;
    }
  }
  return true;
}

}  // namespace torvexan::sim
