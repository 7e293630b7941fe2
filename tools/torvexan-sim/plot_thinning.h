// Thinning of the plot's series as a run goes, so that a plot costs what the picture holds and
// not what the job's hours of motion hold: an XY path keeps only the points it needs to stay
// within a fraction of a pixel of what it drew, and a series over time keeps the least, the
// most, the first and the last value of each sliver of time narrower than a pixel.
#pragma once

#include <cstddef>
#include <vector>

namespace torvexan::sim {

struct PlotPoint {
  double x;
  double y;
};

// A point of a thinned XY path. style tells how the piece of path that ends here is drawn;
// jump: no line leads here (the piece before it was drawn already, or the path starts here).
struct PathPoint {
  double x;
  double y;
  int style = 0;
  bool jump = false;
};

struct Extent {
  bool empty = true;
  double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
  void Take(double x, double y);
};

// An XY path thinned as it comes in: a point is left out while every point since the last one
// kept lies within the tolerance of the straight line from that one on. The tolerance starts
// at 0 (nothing of the shape is lost) and grows only when more than the budget of points
// would be kept: then what was kept is thinned again at a quarter of a pixel of the path's
// extent, or twice the tolerance before, and pieces drawn already (a job run twice over the
// same path) are dropped.
class PathThinner {
 public:
  static constexpr size_t kDefaultBudget = 40000;
  explicit PathThinner(size_t budget = kDefaultBudget, double pixels = 720.0);

  // A line from the last point to (x, y), drawn in style; the first point only starts the path.
  void LineTo(double x, double y, int style = 0);
  // The path goes on from (x, y) without a line to it.
  void JumpTo(double x, double y);
  void Clear();

  // The path thinned at tolerance (units; at least the one already used), pieces drawn twice
  // left out.
  std::vector<PathPoint> Points(double tolerance) const;
  // The path at a quarter of a pixel when its extent fills the given number of pixels.
  std::vector<PathPoint> Points() const;
  const Extent& extent() const { return extent_; }
  double tolerance() const { return tolerance_; }
  size_t kept() const { return kept_.size(); }

 private:
  void Take(const PathPoint& p);
  void Flush();
  void Rethin();

  size_t budget_;
  double pixels_;
  double tolerance_ = 0.0;
  bool rethinning_ = false;
  Extent extent_;
  std::vector<PathPoint> kept_;
  // The sleeve from the last kept point: the latest point that may end it, and the directions
  // (relative to refAngle_) a line may take through every point since.
  bool pending_ = false;
  PathPoint candidate_{};
  bool coned_ = false;
  double refX_ = 1.0, refY_ = 0.0;
  double lo_ = 0.0, hi_ = 0.0;
  double farthest_ = 0.0;
};

// One quantity over time, kept as the first, least, most and last value of each of at most
// kBuckets slivers of time; a sliver widens by halves as the run grows longer.
class SeriesThinner {
 public:
  static constexpr size_t kBuckets = 2048;
  void Add(double t, double v);
  std::vector<PlotPoint> Points() const;
  bool empty() const { return count_ == 0; }
  double minValue() const { return min_; }
  double maxValue() const { return max_; }
  double lastTime() const { return lastTime_; }
  size_t added() const { return count_; }

 private:
  struct Bucket {
    bool used = false;
    PlotPoint first{}, low{}, high{}, last{};
  };
  void Widen();

  std::vector<Bucket> buckets_;
  double start_ = 0.0;
  double width_ = 0.02;  // seconds per sliver at first
  size_t count_ = 0;
  double min_ = 0.0, max_ = 0.0, lastTime_ = 0.0;
};

}  // namespace torvexan::sim
