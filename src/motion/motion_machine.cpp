// The motion state machine: the streaming of the host's move queue, the dwell wait, and the
// choice of the sequence that runs this tick.
#include "motion/motion_machine.h"

#include <algorithm>

#include "link/packets.h"
#include "motion/motion_steps.h"
#include "motion/profile.h"
#include "motion/queue_rows.h"

namespace torvexan {

namespace {

// Most rows the next batch may take: what the host queued, what the card has room for, what
// one packet carries; none for a card that halted on its own, until the host resets it.
int BatchLimit(const PluginState& s) {
  const CardSession& cs = *s.session;
  if (cs.outputsHeldOff) return 0;
  return std::min(
      {QueuedEntries(*s.host.machine), int{cs.maxSegments}, int{cs.freeSlots}, kMaxRowsPerPacket});
}

// Whether a batch of n rows goes out now. Too few entries make a batch that is mostly header,
// so it waits for more unless the host drains.
bool BatchGoesOut(const PluginState& s, int n) {
  if (n <= 0) return false;
  if (n < s.session->minSegments && s.host.control->QueueDrain == 0) return false;
  return s.host.machine->HostSuspended == 0;
}

// Takes a batch of queue entries and builds its MotionCmd; false when none goes out this pass
// (an EndOfStreamCmd may have been built instead).
bool SendQueueBatch(PluginState& s) {
  CardSession& cs = *s.session;
  const int n = BatchLimit(s);
  if (n <= 0) {
    if (s.host.control->QueueDrain) Queue(cs, BuildEndOfStreamCmd(cs));
    return false;
  }
  if (!BatchGoesOut(s, n)) return false;
  int32_t rows[kRowBufferValues];
  int32_t tag = 0;
  const int count =
      ConvertQueueRows(s.settings, *s.host.machine, *s.host.control, cs, s.motion, n, rows, tag);
  Queue(cs, BuildMotionCmd(cs, tag, static_cast<uint8_t>(count), kQueueSegments, rows));
  return true;
}

// Streams the host's move queue: a batch when enough entries and card space are there, the end
// of the stream when the host drains an empty queue, otherwise a status poll. The pass that
// finds a batch exchanged tries the next one at once: a poll in between would halve what a card
// with small packets receives, below what it executes.
void StreamQueue(PluginState& s) {
  CardSession& cs = *s.session;
  switch (s.motion.MotionStep) {
    case kAtStart:
      s.motion.MotionStep = kStreamAwaitingSlot;
      [[fallthrough]];
    case kStreamAwaitingSlot:
      if (cs.txLength != 0) return;
      break;
    case kStreamAwaitingBatch:
      if (cs.txLength != 0) return;
      cs.motionActive = 1;
      s.host.control->MotionIdle = 0;
      break;
    default:
      DropForeignStep(s);
      return;
  }
  if (SendQueueBatch(s)) {
    s.motion.MotionStep = kStreamAwaitingBatch;
    return;
  }
  if (cs.txLength == 0) {
    Queue(cs, BuildStatusPoll(cs));
    if (!cs.motionActive) s.host.control->MotionIdle = 1;
  }
  s.motion.MotionStep = kAtStart;
}

// Waits out the host's dwell while keeping the card polled.
void RunDwell(PluginState& s) {
  if (s.motion.MotionStep != kAtStart && s.motion.MotionStep != kDwellAwaitingTime) {
    DropForeignStep(s);
    return;
  }
  CardSession& cs = *s.session;
  // Unsigned difference: the millisecond counter may wrap during the dwell.
  const uint32_t elapsed = s.platform.clock->TickCountMs() - s.motion.DwellStart;
  if (s.motion.DwellMs > 0 && elapsed < static_cast<uint32_t>(s.motion.DwellMs)) {
    if (cs.txLength == 0) Queue(cs, BuildStatusPoll(cs));
    s.motion.MotionStep = kDwellAwaitingTime;
    return;
  }
  s.host.machine->Dwelling = 0;
  s.motion.MotionMode = kQueueStreaming;
  s.motion.MotionStep = kAtStart;
}

}  // namespace

void MotionTick(PluginState& s) {
  if (!s.session) return;
  switch (s.motion.MotionMode) {
    case kQueueStreaming:
      StreamQueue(s);
      break;
    case kHomingSequence:
      RunHoming(s);
      break;
    case kProbingSequence:
      RunProbing(s);
      break;
    case kDwellWait:
      RunDwell(s);
      break;
    case kJogMove:
      RunJog(s);
      break;
    case kHandwheelJog:
      RunHandwheelJog(s);
      break;
    default:
      break;
  }
}

bool MoreRowsWaiting(const PluginState& s) {
  if (!s.session || s.session->txLength != 0) return false;
  if (s.motion.MotionMode == kJogMove) return JogRowsWaiting(s);
  if (s.motion.MotionMode != kQueueStreaming) return false;
  const bool streamStep = s.motion.MotionStep == kAtStart ||
                          s.motion.MotionStep == kStreamAwaitingSlot ||
                          s.motion.MotionStep == kStreamAwaitingBatch;
  return streamStep && BatchGoesOut(s, BatchLimit(s));
}

bool CatchingUp(const PluginState& s) {
  const CardSession& cs = *s.session;
  if (cs.txLength != 0 || cs.freeSlots < cs.maxSegments) return false;
  switch (s.motion.MotionMode) {
    case kQueueStreaming:
      return MoreRowsWaiting(s) && BatchLimit(s) >= cs.maxSegments;
    case kHomingSequence:
    case kProbingSequence:
      // A homing or probing move being fed; its stop is confirmed at the pace of the ticks.
      return cs.motionActive && ProfileRowsLeft(cs) >= cs.maxSegments &&
             (s.motion.MotionStep == kHomeApproaching || s.motion.MotionStep == kHomePullingOff ||
              s.motion.MotionStep == kProbeFeeding);
    default:
      return false;
  }
}

void ResetMotion(PluginState& s) {
  HostMachine& m = *s.host.machine;
  m.Homing = 0;
  s.host.control->MotionResetFlag = 0;
  m.Jogging = 0;
  s.motion.MotionMode = kQueueStreaming;
  const int axes = s.session ? s.session->axisCount : kCardChannels;
  for (int a = 0; a < axes && a < kAxisRecordCount; ++a) m.Axes[a].AxisMoveFlag = 0;
  m.SequenceEnded = 1;
  // The host may take SequenceEnded back before a reply is folded in (the link is down): the
  // abandoned stream's fractions go now, not with the next reply.
  for (double& r : s.motion.StepRemainders) r = 0.0;
}

bool MotionInProgress(const PluginState& s) {
  if (s.motion.MotionMode != kQueueStreaming || s.session->motionActive) return true;
  if (s.motion.MotionStep == kStreamAwaitingBatch) return true;
  return QueuedEntries(*s.host.machine) > 0;
}

}  // namespace torvexan
