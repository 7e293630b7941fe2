#include "tools/torvexan-sim/plot_thinning.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_set>

namespace torvexan::sim {
namespace {

constexpr double kPixelShare = 0.25;  // the thinned path stays this close to the drawn one
constexpr double kSmallest = 1e-9;    // units: below this two points are one

// A piece of path between two points on the tolerance's grid, either way round, and its style.
struct PieceKey {
  int64_t ax, ay, bx, by;
  int style;
  bool operator==(const PieceKey&) const = default;
};

struct PieceHash {
  size_t operator()(const PieceKey& k) const {
    uint64_t h = 1469598103934665603ull;
    for (int64_t v : {k.ax, k.ay, k.bx, k.by, static_cast<int64_t>(k.style)}) {
      h = (h ^ static_cast<uint64_t>(v)) * 1099511628211ull;
    }
    return static_cast<size_t>(h);
  }
};

PieceKey KeyOf(const PathPoint& a, const PathPoint& b, double grid) {
  int64_t ax = std::llround(a.x / grid), ay = std::llround(a.y / grid);
  int64_t bx = std::llround(b.x / grid), by = std::llround(b.y / grid);
  if (std::tie(bx, by) < std::tie(ax, ay)) {
    std::swap(ax, bx);
    std::swap(ay, by);
  }
  return PieceKey{ax, ay, bx, by, b.style};
}

// Leaves out the pieces of path drawn already, and the jumps that a jump follows.
std::vector<PathPoint> DropRedrawn(std::vector<PathPoint> points, double tolerance) {
  const double grid = std::max(tolerance, kSmallest);
  std::unordered_set<PieceKey, PieceHash> drawn;
  for (size_t i = 1; i < points.size(); ++i) {
    if (points[i].jump) continue;
    if (!drawn.insert(KeyOf(points[i - 1], points[i], grid)).second) points[i].jump = true;
  }
  std::vector<PathPoint> out;
  out.reserve(points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    // The last point stays, jump or not: the path goes on from it.
    if (points[i].jump && i + 1 < points.size() && points[i + 1].jump) continue;
    out.push_back(points[i]);
  }
  return out;
}

// Where direction (x, y) lies from the reference direction, radians in (-pi, pi].
double AngleFrom(double refX, double refY, double x, double y) {
  return std::atan2(refX * y - refY * x, refX * x + refY * y);
}

}  // namespace

void Extent::Take(double x, double y) {
  minX = empty ? x : std::min(minX, x);
  maxX = empty ? x : std::max(maxX, x);
  minY = empty ? y : std::min(minY, y);
  maxY = empty ? y : std::max(maxY, y);
  empty = false;
}

PathThinner::PathThinner(size_t budget, double pixels) : budget_(budget), pixels_(pixels) {}

void PathThinner::LineTo(double x, double y, int style) {
  extent_.Take(x, y);
  Take(PathPoint{x, y, style, kept_.empty() && !pending_});
}

void PathThinner::JumpTo(double x, double y) {
  extent_.Take(x, y);
  Take(PathPoint{x, y, 0, true});
}

void PathThinner::Clear() {
  kept_.clear();
  pending_ = false;
  coned_ = false;
  tolerance_ = 0.0;
  extent_ = Extent{};
}

// Takes the next point: it ends the current piece of path, or starts the next one.
void PathThinner::Take(const PathPoint& p) {
  if (kept_.empty() && !pending_) {
    kept_.push_back(PathPoint{p.x, p.y, p.style, true});
    return;
  }
  if (p.jump || (pending_ && p.style != candidate_.style)) Flush();
  if (p.jump) {
    kept_.push_back(p);
    return;
  }
  const PathPoint& a = kept_.back();
  const double dx = p.x - a.x, dy = p.y - a.y;
  const double d = std::hypot(dx, dy);
  if (!pending_) {
    if (d <= kSmallest) return;  // no length: nothing to draw
    candidate_ = p;
    pending_ = true;
    farthest_ = d;
    coned_ = false;
    if (d > tolerance_) {
      refX_ = dx / d;
      refY_ = dy / d;
      const double half = std::asin(std::min(1.0, tolerance_ / d));
      lo_ = -half;
      hi_ = half;
      coned_ = true;
    }
    return;
  }
  // A line from the last kept point to p must pass near every point since, and not turn back.
  bool fits = d >= farthest_ - tolerance_;
  double angle = 0.0;
  if (fits && d > tolerance_ && coned_) {
    angle = AngleFrom(refX_, refY_, dx, dy);
    fits = angle >= lo_ && angle <= hi_;
  }
  if (!fits) {
    Flush();
    Take(p);
    return;
  }
  candidate_ = p;
  farthest_ = std::max(farthest_, d);
  if (d > tolerance_) {
    const double half = std::asin(std::min(1.0, tolerance_ / d));
    if (!coned_) {
      refX_ = dx / d;
      refY_ = dy / d;
      lo_ = -half;
      hi_ = half;
      coned_ = true;
    } else {
      lo_ = std::max(lo_, angle - half);
      hi_ = std::min(hi_, angle + half);
    }
  }
}

void PathThinner::Flush() {
  if (!pending_) return;
  kept_.push_back(candidate_);
  pending_ = false;
  coned_ = false;
  if (kept_.size() > budget_ && !rethinning_) Rethin();
}

// Thins what was kept again at a coarser tolerance until it holds half the budget at most.
void PathThinner::Rethin() {
  const double span = std::max(extent_.maxX - extent_.minX, extent_.maxY - extent_.minY);
  rethinning_ = true;
  do {
    tolerance_ = std::max({2.0 * tolerance_, span / pixels_ * kPixelShare, kSmallest});
    std::vector<PathPoint> before;
    before.swap(kept_);
    for (const PathPoint& p : before) Take(p);
    if (pending_) {
      kept_.push_back(candidate_);
      pending_ = false;
      coned_ = false;
    }
    kept_ = DropRedrawn(std::move(kept_), tolerance_);
  } while (kept_.size() > budget_ / 2);
  rethinning_ = false;
}

std::vector<PathPoint> PathThinner::Points(double tolerance) const {
  PathThinner again(std::numeric_limits<size_t>::max(), pixels_);
  again.tolerance_ = std::max(tolerance, tolerance_);
  for (const PathPoint& p : kept_) again.Take(p);
  if (pending_) again.Take(candidate_);
  if (again.pending_) again.kept_.push_back(again.candidate_);
  return DropRedrawn(std::move(again.kept_), again.tolerance_);
}

std::vector<PathPoint> PathThinner::Points() const {
  if (extent_.empty) return {};
  const double span = std::max(extent_.maxX - extent_.minX, extent_.maxY - extent_.minY);
  return Points(span / pixels_ * kPixelShare);
}

void SeriesThinner::Add(double t, double v) {
  if (count_ == 0) {
    start_ = t;
    min_ = max_ = v;
  }
  ++count_;
  min_ = std::min(min_, v);
  max_ = std::max(max_, v);
  lastTime_ = t;
  size_t index = static_cast<size_t>(std::max(0.0, std::floor((t - start_) / width_)));
  while (index >= kBuckets) {
    Widen();
    index = static_cast<size_t>(std::max(0.0, std::floor((t - start_) / width_)));
  }
  if (index >= buckets_.size()) buckets_.resize(index + 1);
  Bucket& b = buckets_[index];
  const PlotPoint p{t, v};
  if (!b.used) {
    b = Bucket{true, p, p, p, p};
    return;
  }
  if (v < b.low.y) b.low = p;
  if (v > b.high.y) b.high = p;
  b.last = p;
}

// Each sliver takes in its neighbour: twice as wide, half as many.
void SeriesThinner::Widen() {
  std::vector<Bucket> wider((buckets_.size() + 1) / 2);
  for (size_t i = 0; i < buckets_.size(); ++i) {
    const Bucket& from = buckets_[i];
    if (!from.used) continue;
    Bucket& to = wider[i / 2];
    if (!to.used) {
      to = from;
      continue;
    }
    if (from.low.y < to.low.y) to.low = from.low;
    if (from.high.y > to.high.y) to.high = from.high;
    to.last = from.last;
  }
  buckets_.swap(wider);
  width_ *= 2.0;
}

std::vector<PlotPoint> SeriesThinner::Points() const {
  std::vector<PlotPoint> out;
  for (const Bucket& b : buckets_) {
    if (!b.used) continue;
    PlotPoint four[] = {b.first, b.low, b.high, b.last};
    std::stable_sort(std::begin(four), std::end(four),
                     [](const PlotPoint& a, const PlotPoint& c) { return a.x < c.x; });
    for (const PlotPoint& p : four) {
      if (!out.empty() && out.back().x == p.x && out.back().y == p.y) continue;
      out.push_back(p);
    }
  }
  return out;
}

}  // namespace torvexan::sim
