#include "sim/host/canned_cycle.h"

#include <algorithm>
#include <cmath>

namespace torvexan::sim {
namespace {

// G73 backs off this far between pecks, and G83 comes back down to this far above the last
// peck before it feeds again (0.010 inch).
constexpr double kPeckClearanceMm = 0.254;
constexpr double kSameHeightMm = 1e-6;

class CycleWriter {
 public:
  CycleWriter(const double position[kHostAxisCount], int across, std::vector<CycleStep>* steps)
      : across_(across), steps_(steps) {
    std::copy(position, position + kHostAxisCount, at_);
  }

  void Rapid(double height) { Add(CycleStep::Kind::kRapid, height); }
  void Feed(double height) { Add(CycleStep::Kind::kFeed, height); }
  void Dwell(double seconds) {
    CycleStep s;
    s.kind = CycleStep::Kind::kDwell;
    std::copy(at_, at_ + kHostAxisCount, s.target);
    s.seconds = seconds;
    steps_->push_back(s);
  }
  void RapidTo(int a, double va, int b, double vb, double height) {
    at_[a] = va;
    at_[b] = vb;
    Add(CycleStep::Kind::kRapid, height);
  }
  double height() const { return at_[across_]; }

 private:
  void Add(CycleStep::Kind kind, double height) {
    at_[across_] = height;
    CycleStep s;
    s.kind = kind;
    std::copy(at_, at_ + kHostAxisCount, s.target);
    steps_->push_back(s);
  }

  int across_;
  std::vector<CycleStep>* steps_;
  double at_[kHostAxisCount];
};

// From R down to the bottom and back to R or clear, as each cycle does it.
void Body(const CycleWords& c, double r, double bottom, double clear, CycleWriter& w) {
  switch (c.code) {
    case 73:
    case 83:
      // A peck that would end within a hair of the bottom is the last feed itself.
      for (double depth = r - c.q; depth > bottom + kSameHeightMm; depth -= c.q) {
        w.Feed(depth);
        if (c.code == 73) {
          w.Rapid(depth + kPeckClearanceMm);
        } else {
          w.Rapid(r);
          w.Rapid(depth + kPeckClearanceMm);
        }
      }
      w.Feed(bottom);
      w.Rapid(clear);
      return;
    case 82:
    case 86:
    case 88:
      w.Feed(bottom);
      w.Dwell(c.dwell);
      w.Rapid(clear);
      return;
    case 85:
      w.Feed(bottom);
      w.Feed(r);
      if (clear != r) w.Rapid(clear);
      return;
    case 84:  // the tap feeds out all the way, the spindle reversed
    case 89:
      w.Feed(bottom);
      if (c.code == 89) w.Dwell(c.dwell);
      w.Feed(clear);
      return;
    default:  // 81
      w.Feed(bottom);
      w.Rapid(clear);
      return;
  }
}

}  // namespace

void ExpandCycle(const Block& b, const double position[kHostAxisCount], const WorkOffsets& offsets,
                 CycleHeights* last, std::vector<CycleStep>* steps) {
  const PlaneAxes p = AxesOf(b.plane);
  const CycleWords& c = b.cycle;
  CycleWriter w(position, p.across, steps);
  const double initial = position[p.across];
  double r, bottom, first, second, stepFirst = 0.0, stepSecond = 0.0;
  first = position[p.first];
  second = position[p.second];
  // A run of cycles (until G80 or another motion) notes the height where it began: G98
  // returns there, and an incremental R is measured from it.
  if (!last->active || last->plane != b.plane) last->initialLevel = initial;
  last->plane = b.plane;
  const double level = last->initialLevel;
  if (b.incremental) {
    r = c.rGiven ? level + c.r : last->r;
    bottom = c.depthGiven ? r + b.axis[p.across] : last->bottom;
    if (b.hasAxis[p.first]) stepFirst = b.axis[p.first];
    if (b.hasAxis[p.second]) stepSecond = b.axis[p.second];
  } else {
    r = c.rGiven ? c.r + offsets.Offset(p.across) : last->r;
    bottom = c.depthGiven ? b.axis[p.across] + offsets.Offset(p.across) : last->bottom;
    if (b.hasAxis[p.first]) first = b.axis[p.first] + offsets.Offset(p.first);
    if (b.hasAxis[p.second]) second = b.axis[p.second] + offsets.Offset(p.second);
  }
  // Below R from where the run began, the tool first comes straight up to R. Each hole is
  // reached at the highest of R, where the tool stands and (G98) that height.
  double current = initial;
  if (level < r) {
    w.Rapid(r);
    current = r;
  }
  double travel = std::max(current, r);
  if (!c.retractToR) travel = std::max(travel, level);
  const double clear = c.retractToR ? r : std::max(level, r);
  last->r = r;
  last->bottom = bottom;
  last->active = true;
  for (int k = 0; k < c.repeats; ++k) {
    first += stepFirst;
    second += stepSecond;
    w.RapidTo(p.first, first, p.second, second, travel);
    if (travel != r) w.Rapid(r);
    Body(c, r, bottom, clear, w);
    travel = clear;
  }
}

}  // namespace torvexan::sim
