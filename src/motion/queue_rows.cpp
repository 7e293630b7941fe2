#include "motion/queue_rows.h"

#include <algorithm>
#include <cmath>

namespace torvexan {

namespace {

constexpr int kFirstSlavedChannel = 3;  // channels 0 to 2 carry X, Y, Z
constexpr double kMaxSliceSteps = 2147483647.0;

// The host owns both indices; whatever it writes, the entry taken stays inside the queue.
int QueueIndex(int32_t index) {
  const int i = index % kMoveQueueSize;
  return i < 0 ? i + kMoveQueueSize : i;
}

// Whole steps of one slice of one host axis, rounded half away from zero; the fraction left
// over is carried into the next slice.
int32_t TakeSteps(double moveSteps, double& remainder) {
  const double d = moveSteps + remainder;
  const double r = d >= 0 ? std::floor(d + 0.5) : std::ceil(d - 0.5);
  // A non-finite or absurd slice would poison every later slice of the axis; it moves nothing
  // and the carried fraction is dropped.
  if (!(std::fabs(r) <= kMaxSliceSteps)) {
    remainder = 0.0;
    return 0;
  }
  remainder = d - r;
  return static_cast<int32_t>(r);
}

// The host axis whose steps a channel carries: its own axis, or the master of a slaved axis on
// channels 3 and 4; -1 when the channel carries no valid axis.
int SourceAxis(const PluginSettings& settings, const HostMachine& machine, int channel) {
  const int h = settings.AxisMap[channel];
  if (!IsHostAxis(h)) return -1;
  if (channel < kFirstSlavedChannel) return h;
  const AxisRecord& axis = machine.Axes[h];
  if (!axis.IsSlave) return h;
  return IsHostAxis(axis.SlaveOf) ? axis.SlaveOf : h;
}

}  // namespace

int QueuedEntries(const HostMachine& m) {
  const int available = QueueIndex(m.MoveQueueWrite) - QueueIndex(m.MoveQueueRead);
  return available < 0 ? available + kMoveQueueSize : available;
}

int ConvertQueueRows(const PluginSettings& settings, HostMachine& m, const HostControl& c,
                     const CardSession& session, MotionState& motion, int n, int32_t* rows,
                     int32_t& tag) {
  const int axes = std::min<int>(session.axisCount, kMaxCardAxes);
  n = std::min(n, kMaxRowsPerPacket);
  int source[kMaxCardAxes];
  for (int ch = 0; ch < axes; ++ch) source[ch] = SourceAxis(settings, m, ch);
  int produced = 0;
  while (produced < n) {
    const int read = QueueIndex(m.MoveQueueRead);
    if (read == QueueIndex(m.MoveQueueWrite)) break;
    tag = m.MoveQueue[read].MoveTag;
    int32_t steps[kHostAxisCount];
    for (int h = 0; h < kHostAxisCount; ++h) {
      steps[h] = TakeSteps(c.MoveQueue[read].MoveSteps[h], motion.StepRemainders[h]);
    }
    int32_t* row = rows + produced * axes;
    for (int ch = 0; ch < axes; ++ch) row[ch] = source[ch] < 0 ? 0 : steps[source[ch]];
    m.MoveQueueRead = (read + 1) % kMoveQueueSize;
    ++produced;
  }
  return produced;
}

}  // namespace torvexan
