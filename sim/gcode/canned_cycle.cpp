#include "sim/gcode/canned_cycle.h"

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
  void Dwell(double seconds) { Here(CycleStep::Kind::kDwell).seconds = seconds; }
  void Spindle(SpindleTurn turn) { Here(CycleStep::Kind::kSpindle).spindle = turn; }
  void Orient() { Here(CycleStep::Kind::kOrient); }
  void Pause() { Here(CycleStep::Kind::kPause); }
  void RapidTo(int a, double va, int b, double vb, double height) {
    at_[a] = va;
    at_[b] = vb;
    Add(CycleStep::Kind::kRapid, height);
  }
  double at(int axis) const { return at_[axis]; }

 private:
  void Add(CycleStep::Kind kind, double height) {
    at_[across_] = height;
    Here(kind);
  }
  // A step where the tool stands now.
  CycleStep& Here(CycleStep::Kind kind) {
    CycleStep s;
    s.kind = kind;
    std::copy(at_, at_ + kHostAxisCount, s.target);
    steps_->push_back(s);
    return steps_->back();
  }

  int across_;
  std::vector<CycleStep>* steps_;
  double at_[kHostAxisCount];
};

// The heights of one hole along the drilling axis (machine units).
struct HoleHeights {
  double r = 0.0;
  double bottom = 0.0;
  double clear = 0.0;  // where the tool goes when the hole is done: R or the run's first height
  double back = 0.0;   // G87: the height the tool bores back up to
};

SpindleTurn Reversed(SpindleTurn turning) {
  return turning == SpindleTurn::kCounterClockwise ? SpindleTurn::kClockwise
                                                   : SpindleTurn::kCounterClockwise;
}

// G87: the tool goes down through the bore off its centre, the spindle stopped and oriented
// so that the bar's cutter clears the bore, then bores back up from the bottom centred and
// leaves the same way.
void BackBore(const CycleWords& c, PlaneAxes p, const HoleHeights& h, SpindleTurn turning,
              CycleWriter& w) {
  const double centreFirst = w.at(p.first), centreSecond = w.at(p.second);
  const double offFirst = centreFirst + c.backBore[p.first];
  const double offSecond = centreSecond + c.backBore[p.second];
  w.RapidTo(p.first, offFirst, p.second, offSecond, h.r);
  w.Spindle(SpindleTurn::kStop);
  w.Orient();
  w.Rapid(h.bottom);
  w.RapidTo(p.first, centreFirst, p.second, centreSecond, h.bottom);
  w.Spindle(turning);
  w.Feed(h.back);
  w.Feed(h.bottom);
  w.Spindle(SpindleTurn::kStop);
  w.Orient();
  w.RapidTo(p.first, offFirst, p.second, offSecond, h.bottom);
  w.Rapid(h.clear);
  w.RapidTo(p.first, centreFirst, p.second, centreSecond, h.clear);
  w.Spindle(turning);
}

// From R down to the bottom and back to R or clear, as each cycle does it.
void Body(const CycleWords& c, PlaneAxes p, const HoleHeights& h, SpindleTurn turning,
          CycleWriter& w) {
  switch (c.code) {
    case 73:
    case 83:
      // A peck that would end within a hair of the bottom is the last feed itself.
      for (double depth = h.r - c.q; depth > h.bottom + kSameHeightMm; depth -= c.q) {
        w.Feed(depth);
        if (c.code == 73) {
          w.Rapid(depth + kPeckClearanceMm);
        } else {
          w.Rapid(h.r);
          w.Rapid(depth + kPeckClearanceMm);
        }
      }
      w.Feed(h.bottom);
      w.Rapid(h.clear);
      return;
    case 82:
    case 86:
    case 88:
      w.Feed(h.bottom);
      w.Dwell(c.dwell);
      if (c.code != 82) w.Spindle(SpindleTurn::kStop);
      if (c.code == 88) w.Pause();
      w.Rapid(h.clear);
      if (c.code != 82) w.Spindle(turning);
      return;
    case 85:
      w.Feed(h.bottom);
      w.Feed(h.r);
      if (h.clear != h.r) w.Rapid(h.clear);
      return;
    case 84:  // the tap feeds out all the way, the spindle reversed
      w.Feed(h.bottom);
      w.Spindle(SpindleTurn::kStop);
      w.Spindle(Reversed(turning));
      w.Dwell(c.dwell);
      w.Feed(h.clear);
      w.Spindle(SpindleTurn::kStop);
      w.Spindle(turning);
      return;
    case 87:
      return BackBore(c, p, h, turning, w);
    case 89:
      w.Feed(h.bottom);
      w.Dwell(c.dwell);
      w.Feed(h.clear);
      return;
    default:  // 81
      w.Feed(h.bottom);
      w.Rapid(h.clear);
      return;
  }
}

}  // namespace

bool CycleTurnsSpindle(int code) {
  return code == 84 || code == 86 || code == 87 || code == 88;
}

void ExpandCycle(const Block& b, const double position[kHostAxisCount], const WorkOffsets& offsets,
                 SpindleTurn turning, CycleHeights* last, std::vector<CycleStep>* steps) {
  const PlaneAxes p = AxesOf(b.plane);
  const CycleWords& c = b.cycle;
  CycleWriter w(position, p.across, steps);
  const double initial = position[p.across];
  HoleHeights h;
  double first = position[p.first], second = position[p.second];
  double stepFirst = 0.0, stepSecond = 0.0;
  // A run of cycles (until G80 or another motion) notes the height where it began: G98
  // returns there, and an incremental R is measured from it.
  if (!last->active || last->plane != b.plane) last->initialLevel = initial;
  last->plane = b.plane;
  const double level = last->initialLevel;
  if (b.incremental) {
    h.r = c.rGiven ? level + c.r : last->r;
    h.bottom = c.depthGiven ? h.r + b.axis[p.across] : last->bottom;
    h.back = h.bottom + c.backBore[p.across];
    if (b.hasAxis[p.first]) stepFirst = b.axis[p.first];
    if (b.hasAxis[p.second]) stepSecond = b.axis[p.second];
  } else {
    h.r = c.rGiven ? c.r + offsets.Offset(p.across) : last->r;
    h.bottom = c.depthGiven ? b.axis[p.across] + offsets.Offset(p.across) : last->bottom;
    h.back = c.backBore[p.across] + offsets.Offset(p.across);
    if (b.hasAxis[p.first]) first = b.axis[p.first] + offsets.Offset(p.first);
    if (b.hasAxis[p.second]) second = b.axis[p.second] + offsets.Offset(p.second);
  }
  // Below R from where the run began, the tool first comes straight up to R. Each hole is
  // reached at the highest of R, where the tool stands and (G98) that height.
  double current = initial;
  if (level < h.r) {
    w.Rapid(h.r);
    current = h.r;
  }
  double travel = std::max(current, h.r);
  if (!c.retractToR) travel = std::max(travel, level);
  h.clear = c.retractToR ? h.r : std::max(level, h.r);
  last->r = h.r;
  last->bottom = h.bottom;
  last->active = true;
  for (int k = 0; k < c.repeats; ++k) {
    first += stepFirst;
    second += stepSecond;
    w.RapidTo(p.first, first, p.second, second, travel);
    if (travel != h.r) w.Rapid(h.r);
    Body(c, p, h, turning, w);
    travel = h.clear;
  }
}

}  // namespace torvexan::sim
