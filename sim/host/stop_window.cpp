#include "sim/host/stop_window.h"

#include <algorithm>
#include <cmath>

#include "sim/host/machine_setup.h"

namespace torvexan::sim {
namespace {

int64_t SliceOf(double seconds) {
  return static_cast<int64_t>(std::floor(seconds / kSliceSeconds + 1e-9));
}

}  // namespace

StopWindow::StopWindow(const Planner& planner, int64_t slicesTaken, int cardLine) {
  const std::deque<PlannedMove>& moves = planner.moves();
  if (moves.empty()) return;
  const double takenSeconds = static_cast<double>(slicesTaken) * kSliceSeconds;
  size_t last = 0;  // the move the last slice taken lies in
  while (last + 1 < moves.size() && moves[last + 1].startSeconds <= takenSeconds) ++last;
  // The card may be anywhere on the moves of its line (an arc's slices, a cycle's steps):
  // back to the first of the ones in a row that carry it.
  size_t end = last + 1;  // one past the last move of the card's line
  while (end > 0 && moves[end - 1].line != cardLine) --end;
  size_t first = end;  // all of the run so far when the card named no line of it
  while (first > 0 && moves[first - 1].line == cardLine) --first;
  firstMove_ = planner.firstMove() + first;
  // A stretch that begins where the planner's history does may have lost the card's moves.
  whole_ = first > 0 || planner.firstMove() == 0;
  firstSlice_ = SliceOf(moves[first].startSeconds);
  lastSlice_ = std::max(firstSlice_, slicesTaken);
  moves_.assign(moves.begin() + static_cast<std::ptrdiff_t>(first),
                moves.begin() + static_cast<std::ptrdiff_t>(last) + 1);
}

size_t StopWindow::MoveAt(int64_t k) const {
  const double t = static_cast<double>(k) * kSliceSeconds;
  size_t i = 0;
  while (i + 1 < moves_.size() && moves_[i + 1].startSeconds <= t) ++i;
  return i;
}

void StopWindow::PositionAt(int64_t k, double out[kHostAxisCount]) const {
  k = std::clamp(k, firstSlice_, lastSlice_);
  const PlannedMove& m = moves_[MoveAt(k)];
  const double t = static_cast<double>(k) * kSliceSeconds - m.startSeconds;
  const double fraction = m.length > 0.0 ? m.profile.Position(t) / m.length : 1.0;
  for (int a = 0; a < kHostAxisCount; ++a) {
    const double from = static_cast<double>(m.from[a]);
    out[a] = from + (static_cast<double>(m.to[a]) - from) * fraction;
  }
}

std::optional<PathMatch> StopWindow::Match(const double at[kHostAxisCount],
                                           double toleranceSteps) const {
  if (moves_.empty()) return std::nullopt;
  for (int64_t k = lastSlice_; k >= firstSlice_; --k) {
    double position[kHostAxisCount];
    PositionAt(k, position);
    bool on = true;
    for (int a = 0; a < kHostAxisCount && on; ++a) {
      on = std::fabs(position[a] - at[a]) <= toleranceSteps;
    }
    if (!on) continue;
    const size_t i = MoveAt(k);
    return PathMatch{k, firstMove_ + i, moves_[i].line};
  }
  return std::nullopt;
}

PathMatch StopWindow::MoveOfCardLine() const {
  if (moves_.empty()) return PathMatch{};
  return PathMatch{firstSlice_, firstMove_, moves_.front().line};
}

void StopWindow::StartOf(size_t move, double out[kHostAxisCount]) const {
  const size_t i = std::clamp(move, firstMove_, firstMove_ + moves_.size() - 1) - firstMove_;
  for (int a = 0; a < kHostAxisCount; ++a) out[a] = static_cast<double>(moves_[i].from[a]);
}

}  // namespace torvexan::sim
