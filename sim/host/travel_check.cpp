#include "sim/host/travel_check.h"

#include <algorithm>
#include <cstdio>

namespace torvexan::sim {
namespace {

// Positions closer than this to a travel end count as on it: arcs and offsets leave rounding.
constexpr double kTravelSlack = 1e-6;

void Widen(double value, bool first, double* low, double* high) {
  *low = first ? value : std::min(*low, value);
  *high = first ? value : std::max(*high, value);
}

}  // namespace

std::string BeyondTravelText(int axis, double position, const AxisTravel& travel) {
  char text[160];
  std::snprintf(text, sizeof text,
                "%c %.3f lies beyond the travel %.3f .. %.3f (machine coordinates)",
                kAxisLetters[axis], position, travel.min, travel.max);
  return text;
}

void TravelCheck::Move(int line, const double from[kHostAxisCount], const double to[kHostAxisCount],
                       const WorkOffsets& offsets) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (to[a] == from[a]) continue;
    AxisExtent& e = extents_[a];
    const double program = to[a] - offsets.Offset(a);
    Widen(to[a], !e.moved, &e.machineMin, &e.machineMax);
    Widen(program, !e.moved, &e.programMin, &e.programMax);
    e.moved = true;
    const AxisTravel& t = limits_.axis[a];
    const bool inside = to[a] >= t.min - kTravelSlack && to[a] <= t.max + kTravelSlack;
    if (inside || !reported_.insert({line, a}).second) continue;
    beyond_.push_back(JobError{line, BeyondTravelText(a, to[a], t)});
  }
}

}  // namespace torvexan::sim
