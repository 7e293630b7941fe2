#include "tools/gcode-diff/outline_generator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/gcode-diff/generated_text.h"

namespace torvexan::gcodediff {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kFilletShare = 0.4;  // a rounded corner takes at most this much of a side
// rs274 takes a turn under 0.05 rad for no corner at all, and decides whether a near reversal
// is an inside or an outside corner by rules of its own (docs/gcode-dialect.md): joins that
// turn less than this, or come this close to turning back, are straightened.
constexpr double kLeastTurn = 0.06;
constexpr int kDigits = 6;  // tangent joins stay tangent to well under a micrometre

struct Point {
  double x = 0.0, y = 0.0;
};

enum class Side { kLine, kArcOut, kArcIn };

class OutlineWriter {
 public:
  OutlineWriter(std::mt19937_64& rng, int toolCount) : rng_(rng), toolCount_(toolCount) {
    // rs274 compensates in G17 and G18 only.
    if (Chance(0.3)) plane_ = {"G18", 'Z', 'X', 'Y', 'K', 'I'};
  }

  std::vector<std::string> Run() {
    Corners();
    const Point a = corners_[0], b = corners_[1];
    const double lead = Uniform(10.0, 20.0) / std::hypot(b.x - a.x, b.y - a.y);
    // Lead in along the first side, as CAM does: rs274 would cut a backward path where an
    // entry meets the outline at a sharp inside corner, which the simulated host refuses.
    lines_.push_back("G0" + At({a.x - lead * (b.x - a.x), a.y - lead * (b.y - a.y)}));
    lines_.push_back(std::string(plane_.code) + " G1" + (Chance(0.5) ? " G41" : " G42") + " D" +
                     std::to_string(std::uniform_int_distribution<int>(1, toolCount_)(rng_)) +
                     At(a));
    for (size_t i = 0; i < corners_.size(); ++i) {
      Cut(i);
      // A move along the third axis between two sides: the corner after it is still one.
      if (i + 1 < corners_.size() && Chance(0.15))
        lines_.push_back(std::string("G1 ") + plane_.across + Num(Uniform(-20.0, 20.0)));
    }
    lines_.push_back("G40 G1" + At({Uniform(-80.0, 80.0), Uniform(-80.0, 80.0)}));
    lines_.push_back("G17");
    return lines_;
  }

 private:
  double Uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  bool Chance(double p) { return Uniform(0.0, 1.0) < p; }
  static Point Rounded(Point p) { return {Round(p.x, kDigits), Round(p.y, kDigits)}; }
  std::string At(Point p) const {
    return std::string(" ") + plane_.first + Num(p.x, kDigits) + " " + plane_.second +
           Num(p.y, kDigits);
  }
  Point Corner(size_t i) const { return corners_[i % corners_.size()]; }

  // The corners on a circle, counter-clockwise or clockwise; the kind of each side after
  // them and the rounding of the corners between two straight sides.
  void Corners() {
    const double cx = Uniform(-40.0, 40.0), cy = Uniform(-40.0, 40.0), r = Uniform(30.0, 60.0);
    const int n = std::uniform_int_distribution<int>(3, 6)(rng_);
    ccw_ = Chance(0.5);
    for (int i = 0; i < n; ++i) {
      const double a = kTwoPi * (i + Uniform(0.1, 0.9)) / n * (ccw_ ? 1.0 : -1.0);
      corners_.push_back(Rounded({cx + r * std::cos(a), cy + r * std::sin(a)}));
      const double kind = Uniform(0.0, 1.0);
      sides_.push_back(i == 0 || kind < 0.5 ? Side::kLine
                       : kind < 0.75        ? Side::kArcOut
                                            : Side::kArcIn);
      sweeps_.push_back(Uniform(0.3, 2.0));
    }
    while (Straighten()) {
    }
    fillets_.assign(n, 0.0);
    for (int i = 1; i < n; ++i) {
      if (sides_[i - 1] == Side::kLine && sides_[i] == Side::kLine && Chance(0.4))
        fillets_[i] = Uniform(0.5, 20.0);
    }
  }

  // The direction of side i at its start (or end), in radians.
  double Heading(size_t i, bool atEnd) const {
    const Point a = Corner(i), b = Corner(i + 1);
    const double chord = std::atan2(b.y - a.y, b.x - a.x);
    if (sides_[i] == Side::kLine) return chord;
    // A short arc leaves its chord by half its sweep, towards its turn at the end.
    const double half = sweeps_[i] / 2.0 * (ArcIsCcw(i) == atEnd ? 1.0 : -1.0);
    return chord + half;
  }
  bool ArcIsCcw(size_t i) const { return ccw_ == (sides_[i] == Side::kArcOut); }

  // Makes lines of the two sides at a corner that turns too little; true when it did.
  bool Straighten() {
    const size_t n = corners_.size();
    for (size_t k = 1; k <= n; ++k) {
      const double turn = std::remainder(Heading(k % n, false) - Heading(k - 1, true), kTwoPi);
      const double bend = std::fabs(turn);
      if (bend >= kLeastTurn && std::numbers::pi - bend >= kLeastTurn) continue;
      if (sides_[k - 1] == Side::kLine && sides_[k % n] == Side::kLine) continue;
      sides_[k - 1] = sides_[k % n] = Side::kLine;
      return true;
    }
    return false;
  }

  // How far from corner i its rounding starts along each side; 0 when it is sharp or the
  // rounding would not fit.
  double FilletReach(size_t i) const {
    if (i >= corners_.size() || fillets_[i] == 0.0) return 0.0;
    const Point p = Corner(i + corners_.size() - 1), c = Corner(i), q = Corner(i + 1);
    const double l1 = std::hypot(c.x - p.x, c.y - p.y), l2 = std::hypot(q.x - c.x, q.y - c.y);
    const double dot = ((c.x - p.x) * (q.x - c.x) + (c.y - p.y) * (q.y - c.y)) / (l1 * l2);
    const double reach = fillets_[i] * std::tan(std::acos(std::clamp(dot, -1.0, 1.0)) / 2.0);
    return reach < kFilletShare * std::min(l1, l2) ? reach : 0.0;
  }

  // Side i from corner i to corner i + 1, and the rounding of corner i + 1.
  void Cut(size_t i) {
    const Point a = Corner(i), b = Corner(i + 1);
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    const Point d = {(b.x - a.x) / length, (b.y - a.y) / length};
    const double reach = FilletReach(i + 1);
    const Point end = Rounded({b.x - d.x * reach, b.y - d.y * reach});
    if (sides_[i] == Side::kLine) {
      lines_.push_back("G1" + At(end));
    } else {
      // A short counter-clockwise arc bulges to the right of its chord.
      ArcTo(a, b, length / (2.0 * std::sin(sweeps_[i] / 2.0)), ArcIsCcw(i));
    }
    if (reach == 0.0) return;
    const Point c = Corner(i + 2);
    const double l2 = std::hypot(c.x - b.x, c.y - b.y);
    ArcTo(end, Rounded({b.x + (c.x - b.x) / l2 * reach, b.y + (c.y - b.y) / l2 * reach}),
          fillets_[i + 1], ccw_);
  }

  // The short arc of radius r from a to b, by R or by its centre.
  void ArcTo(Point a, Point b, double r, bool ccwArc) {
    const std::string code = ccwArc ? "G3" : "G2";
    if (Chance(0.5)) return lines_.push_back(code + At(b) + " R" + Num(r, kDigits));
    const double c = std::hypot(b.x - a.x, b.y - a.y);
    const double h = std::sqrt(std::max(r * r - c * c / 4.0, 0.0)) * (ccwArc ? 1.0 : -1.0);
    const Point centre = {(a.x + b.x) / 2.0 - h * (b.y - a.y) / c,
                          (a.y + b.y) / 2.0 + h * (b.x - a.x) / c};
    lines_.push_back(code + At(b) + " " + plane_.ci + Num(centre.x - a.x, kDigits) + " " +
                     plane_.cj + Num(centre.y - a.y, kDigits));
  }

  struct PlaneLetters {
    const char* code;
    char first, second, across, ci, cj;  // cj: the centre letter of the second axis
  };

  std::mt19937_64& rng_;
  int toolCount_;
  PlaneLetters plane_ = {"G17", 'X', 'Y', 'Z', 'I', 'J'};
  bool ccw_ = true;
  std::vector<Point> corners_;
  std::vector<Side> sides_;
  std::vector<double> sweeps_;   // radians, of the sides that are arcs
  std::vector<double> fillets_;  // radius of the rounding at each corner; 0 for sharp
  std::vector<std::string> lines_;
};

}  // namespace

std::vector<std::string> CompensatedOutline(std::mt19937_64& rng, int toolCount) {
  return OutlineWriter(rng, toolCount).Run();
}

}  // namespace torvexan::gcodediff
