#include "motion/motion_machine.h"

namespace torvexan {

void MotionTick(PluginState& s) { (void)s; }

void ResetMotion(PluginState& s) {
  HostMachine& m = *s.host.machine;
  m.Homing = 0;
  s.host.control->MotionResetFlag = 0;
  m.Jogging = 0;
  s.MotionMode = kQueueStreaming;
  const int axes = s.session ? s.session->axisCount : kCardChannels;
  for (int a = 0; a < axes && a < kAxisRecordCount; ++a) m.Axes[a].AxisMoveFlag = 0;
  m.SequenceEnded = 1;
}

}  // namespace torvexan
