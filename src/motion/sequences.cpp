// The sequences whose motion the plug-in plans itself: jog, handwheel jog, homing and probing.
// Each sends its start command, feeds the card computed rows while it reports motion, and
// hands its results to the host before returning to queue streaming.
#include <algorithm>

#include "link/packets.h"
#include "motion/motion_machine.h"
#include "motion/motion_steps.h"
#include "motion/profile.h"
#include "motion/queue_rows.h"

namespace torvexan {

namespace {

constexpr uint8_t kCardJogSlots = 199;  // the card's row buffer as the jog feed counts it
constexpr int kJogPollFromQueued = 40;  // queued rows from which the jog feed only polls
constexpr int kJogSlackRows = 2;        // covers an exchange that comes a period or two later
// Most rows one exchange is counted as (95 ms): two of them and the slack widen the buffer up to
// where the feed only polls. A later reply is a stalled exchange or a jump of the card's clock,
// not the pace of the jog, and must not let the last batch queue more.
constexpr int kJogMostRowsPerExchange = (kJogPollFromQueued - kJogSlackRows) / 2;
constexpr int kPollOnly = -1;              // batch size meaning "send a status poll"
constexpr uint32_t kHomingHeaderFlag = 2;  // header flag carried by every homing packet
constexpr int32_t kHomePendingBit = 0x01000000;
constexpr int32_t kCardStateHalted = 0;  // emergency-stop input, limit, restart, HaltCmd
constexpr const char* kHomingAbortedText = "(Homing aborted! Axis not homed.)";
constexpr const char* kProbingAbortedText = "(Probing aborted! No probe position.)";
constexpr const char* kSwitchNotFoundText = "(Home switch not found! Axis not homed.)";
constexpr const char* kNoContactText = "(Probe made no contact! No probe position.)";

// The card channel of a host axis as the start commands name it.
uint8_t CommandChannel(const PluginState& s, int hostAxis) {
  const int c = ChannelOf(s.settings, hostAxis);
  return c < 0 ? kUnmappedChannel : static_cast<uint8_t>(c);
}

// Homing and probing keep the card's buffer as full as one packet allows.
int FillCardBatch(const CardSession& cs) {
  if (cs.freeSlots < cs.minSegments) return kPollOnly;
  return std::min(cs.freeSlots, cs.maxSegments);
}

// A jog keeps at most JogBufSize rows queued in the card, so a stop takes effect soon. The card
// runs rows while packets travel: the queued count of the last reply is one exchange old when
// this packet arrives, and what it brings must last until the next one arrives. A buffer
// smaller than those two exchanges' rows would run dry between packets, so it is widened to
// them; the card's clock counts its 5 ms periods, so the rows of one exchange are the periods
// between two replies. A stop then waits behind at most about JogBufSize rows plus the rows of
// one exchange.
int JogBatch(PluginState& s) {
  const CardSession& cs = *s.session;
  if (JogRowsWaiting(s)) {
    // A further exchange of the same tick: the rest of what its first feed wanted. Its reply
    // comes no later on the card's clock, so the pace stays measured from the first feed.
    const int n = std::min<int>(s.motion.JogRowsOwed, cs.maxSegments);
    s.motion.JogRowsOwed -= n;
    return n;
  }
  s.motion.JogRowsOwed = 0;
  const int rowsPerExchange = std::min<int>(
      static_cast<uint16_t>(cs.cardTime - s.motion.JogFeedCardTime), kJogMostRowsPerExchange);
  s.motion.JogFeedCardTime = cs.cardTime;
  const uint8_t queued = static_cast<uint8_t>(kCardJogSlots - cs.freeSlots);
  if (queued >= kJogPollFromQueued) return kPollOnly;
  // The setting is checked when loaded; a larger value still cannot exceed the card's buffer.
  const int setRows = static_cast<int>(std::min<uint32_t>(s.settings.JogBufSize, kCardJogSlots));
  const int coverRows = 2 * rowsPerExchange + kJogSlackRows;
  const int bufferRows = std::max(setRows, coverRows);
  int n = queued >= bufferRows ? 0 : bufferRows - queued;
  // The end of the stream follows the last rows one exchange later; a short last batch would
  // run dry before it comes, so a tail that would be left for the next batch goes now.
  const int left = ProfileRowsLeft(cs);
  if (left <= n + rowsPerExchange) n = left;
  const int sent = std::min<int>(n, cs.maxSegments);
  s.motion.JogRowsOwed = n - sent;
  s.motion.JogRowsOwedTick = s.cycle.TickCount;
  return sent;
}

// The card starts the move from where its last reply placed the channels.
void MarkMoveStart(PluginState& s) {
  for (int c = 0; c < kMaxCardAxes; ++c) {
    s.motion.MoveStartCounts[c] = s.session->axisPosition[c];
    s.motion.MoveStepsSent[c] = 0;
  }
}

// Adds the rows of a packet to the steps handed over, as the card reads them: the low 16 bits.
void CountStepsSent(PluginState& s, const int32_t* rows, int count) {
  if (s.session->txLength == 0) return;  // nothing was built
  const int axes = std::min<int>(s.session->axisCount, kMaxCardAxes);
  for (int i = 0; i < count * axes; ++i) {
    s.motion.MoveStepsSent[i % axes] += static_cast<int16_t>(static_cast<uint16_t>(rows[i]));
  }
}

// The profiles have no rows left and the card stands where every row handed over since the
// start of the move ends, on every channel: the move ran its whole length, so no home switch
// and no probe contact ended it (the card stops at those and drops the rows still queued).
bool RanWholeLength(const PluginState& s) {
  const CardSession& cs = *s.session;
  if (ProfileRowsLeft(cs) > 0) return false;
  const int axes = std::min<int>(cs.axisCount, kMaxCardAxes);
  for (int c = 0; c < axes; ++c) {
    // Counts wrap like the card's 32-bit positions.
    const uint32_t end = static_cast<uint32_t>(s.motion.MoveStartCounts[c]) +
                         static_cast<uint32_t>(static_cast<uint64_t>(s.motion.MoveStepsSent[c]));
    if (static_cast<uint32_t>(cs.axisPosition[c]) != end) return false;
  }
  return true;
}

// Sends the next rows of the running profiles, a status poll when the card has no room or
// enough rows for now, and the end of the stream only once the profiles have no rows left: the
// card ends the move when its queue runs dry after that.
void Feed(PluginState& s, int n) {
  CardSession& cs = *s.session;
  // A card that halted on its own gets no rows until the host resets it: the sequence ends
  // when it sees the halt.
  if (n == kPollOnly || cs.outputsHeldOff || (n == 0 && ProfileRowsLeft(cs) > 0)) {
    Queue(cs, BuildStatusPoll(cs));
    return;
  }
  int32_t rows[kRowBufferValues];
  const int produced = GenerateRows(cs, std::min(n, kMaxRowsPerPacket), rows);
  if (produced > 0) {
    ApplySlaving(s.settings, *s.host.machine, cs, rows, produced);
    Queue(cs, BuildMotionCmd(cs, 0, static_cast<uint8_t>(produced), kComputedSegments, rows));
    CountStepsSent(s, rows, produced);
  } else {
    Queue(cs, BuildEndOfStreamCmd(cs));
  }
}

// Every sequence's last act: the host learns that the sequence is over.
void EndSequence(PluginState& s) {
  s.host.control->MotionIdle = 1;
  s.host.machine->SequenceEnded = 1;
  s.motion.MotionMode = kQueueStreaming;
  s.motion.MotionStep = kAtStart;
}

// Starts the deceleration of every channel whose jog the host ended.
void StopJoggedChannels(PluginState& s) {
  CardSession& cs = *s.session;
  const int axes = std::min<int>(cs.axisCount, kMaxCardAxes);
  for (int c = 0; c < axes; ++c) {
    const uint8_t bit = static_cast<uint8_t>(1u << c);
    if (!(cs.jogStopBits & bit)) continue;
    StopProfile(cs.axisJog[c]);
    cs.jogStopBits &= static_cast<uint8_t>(~bit);
  }
  s.requests.RequestFlags &= ~kRequestJogStop;
}

// The homed axis takes its reference position; the card receives it for that axis's channels
// and keeps its own positions for the others.
void SendHomePositions(PluginState& s) {
  CardSession& cs = *s.session;
  HostMachine& m = *s.host.machine;
  const int homed = s.motion.ActiveAxis;
  if (IsHostAxis(homed)) m.Axes[homed].PositionCounts = m.HomeReferenceCounts[homed];
  s.motion.PurgeMask = 0;
  const int axes = std::min<int>(cs.axisCount, kMaxCardAxes);
  for (int c = 0; c < axes; ++c) {
    const int h = s.settings.AxisMap[c];
    s.motion.PositionImage[c] = IsHostAxis(h) ? m.Axes[h].PositionCounts : 0;
    if (h == homed) s.motion.PurgeMask |= static_cast<uint8_t>(1u << c);
  }
  Queue(cs, BuildSetPositionsCmd(cs, s.motion.PurgeMask, s.motion.PositionImage));
}

// A homing or probing move that ended because the card halted, or while the host is in
// emergency stop, did not end at its switch or probe contact: nothing of it may be taken as a
// result.
bool EndedByHalt(const PluginState& s) {
  return s.session->cardState == kCardStateHalted || s.host.machine->EStop != 0;
}

// Ends a homing or probing sequence without its result.
void EndWithoutResult(PluginState& s) {
  s.host.machine->Homing = 0;
  EndSequence(s);
}

void AbortSequence(PluginState& s) {
  ReportSequenceAborted(s);
  EndWithoutResult(s);
}

// Feeds a homing or probing move while the card reports motion. The replies carry no checksum,
// and one damaged state byte that reads as "not moving" would take the reference or the probe
// position in the middle of the move and leave the rows still queued in the card to run on
// unwatched: so a reported stop is asked about once more with a poll (resume point
// `confirming`), whose reply clears motionActive again only if the card really stands. A halt
// ends the sequence without its result. True once the card has stopped for certain.
bool MoveStopped(PluginState& s, uint16_t feeding, uint16_t confirming) {
  CardSession& cs = *s.session;
  const bool asked = s.motion.MotionStep == confirming;
  if (asked && cs.txLength != 0) return false;
  if (cs.motionActive) {
    s.motion.MotionStep = feeding;  // still moving: an unconfirmed stop was a damaged reply
    if (cs.txLength == 0) Feed(s, FillCardBatch(cs));
    return false;
  }
  if (EndedByHalt(s)) {
    AbortSequence(s);
    return false;
  }
  if (asked) return true;
  if (cs.txLength == 0) {
    cs.motionActive = 1;
    Queue(cs, BuildStatusPoll(cs));
    s.motion.MotionStep = confirming;
  }
  return false;
}

void EndHoming(PluginState& s) {
  if (IsHostAxis(s.motion.ActiveAxis)) s.host.machine->AxisHomed[s.motion.ActiveAxis] = 1;
  s.host.control->PendingWordB &= ~kHomePendingBit;
  s.host.machine->Homing = 0;
  EndSequence(s);
}

void EndProbing(PluginState& s) {
  HostMachine& m = *s.host.machine;
  const CardSession& cs = *s.session;
  // The USB card's replies carry no probe latch; it stops the move at the contact, so where its
  // channels stand now is the probe position (the latch would be a stale one, or nothing).
  const bool latchReported = !IsUsbFamily(cs);
  // All five channels, whatever the card model: the host reads every probed axis.
  for (int c = 0; c < kCardChannels; ++c) {
    const int h = s.settings.AxisMap[c];
    if (!IsHostAxis(h)) continue;
    const bool standing = !latchReported && c < cs.axisCount;
    m.Axes[h].ProbeCounts = standing ? cs.axisPosition[c] : cs.probePosition[c];
    m.Axes[h].ProbeFlag = 0;
  }
  EndSequence(s);
}

}  // namespace

void ReportSequenceAborted(const PluginState& s) {
  if (s.motion.MotionMode == kHomingSequence) ReportToHost(s, kHomingAbortedText);
  if (s.motion.MotionMode == kProbingSequence) ReportToHost(s, kProbingAbortedText);
}

bool JogRowsWaiting(const PluginState& s) {
  return s.motion.MotionMode == kJogMove && s.motion.MotionStep == kJogFeeding &&
         s.motion.JogRowsOwed > 0 && s.motion.JogRowsOwedTick == s.cycle.TickCount && s.session &&
         s.session->motionActive && s.session->txLength == 0;
}

void RunJog(PluginState& s) {
  CardSession& cs = *s.session;
  switch (s.motion.MotionStep) {
    case kAtStart:
      if (cs.txLength != 0) return;
      Queue(cs, BuildProfileStartCmd(cs));
      s.motion.JogFeedCardTime = cs.cardTime;  // the first feed learns the pace of one exchange
      s.motion.MotionStep = kJogAwaitingStart;
      return;
    case kJogAwaitingStart:
      if (cs.txLength != 0) return;
      cs.motionActive = 1;
      s.host.control->MotionIdle = 0;
      s.motion.MotionStep = kJogFeeding;
      [[fallthrough]];
    case kJogFeeding:
      if (!cs.motionActive) {
        s.host.machine->Jogging = 0;
        EndSequence(s);
        return;
      }
      if (cs.txLength != 0) return;
      if (s.requests.RequestFlags & kRequestJogStop) StopJoggedChannels(s);
      Feed(s, JogBatch(s));
      return;
    default:
      DropForeignStep(s);
      return;
  }
}

void RunHandwheelJog(PluginState& s) {
  CardSession& cs = *s.session;
  switch (s.motion.MotionStep) {
    case kAtStart:
      if (cs.txLength != 0) return;
      Queue(cs, BuildHandwheelJogCmd(cs, CommandChannel(s, s.motion.ActiveAxis),
                                     CommandChannel(s, s.motion.SlaveAxis)));
      s.motion.MotionStep = kHandwheelAwaitingStart;
      return;
    case kHandwheelAwaitingStart:
      if (cs.txLength != 0) return;
      cs.motionActive = 1;
      s.host.control->MotionIdle = 0;
      s.motion.MotionStep = kHandwheelPolling;
      [[fallthrough]];
    case kHandwheelPolling:
      if (cs.motionActive) {
        if (cs.txLength != 0) return;
        if (!(s.requests.RequestFlags & kRequestJogStop)) {
          Queue(cs, BuildStatusPoll(cs));
          return;
        }
        // The stop goes out on the next exchange; the mode ends now.
        Queue(cs, BuildStopMotionCmd(cs));
        s.requests.RequestFlags &= ~kRequestJogStop;
        cs.jogStopBits = 0;
      }
      s.host.control->MotionResetFlag = 0;
      if (IsHostAxis(s.motion.ActiveAxis))
        s.host.machine->Axes[s.motion.ActiveAxis].AxisMoveFlag = 0;
      s.host.machine->Jogging = 0;
      EndSequence(s);
      return;
    default:
      DropForeignStep(s);
      return;
  }
}

void RunHoming(PluginState& s) {
  CardSession& cs = *s.session;
  cs.headerFlags |= kHomingHeaderFlag;
  switch (s.motion.MotionStep) {
    case kAtStart:
      if (cs.txLength != 0) return;
      Queue(cs, BuildHomeCmd(cs, CommandChannel(s, s.motion.ActiveAxis),
                             CommandChannel(s, s.motion.SlaveAxis)));
      s.motion.MotionStep = kHomeAwaitingStart;
      return;
    case kHomeAwaitingStart:
      if (cs.txLength != 0) return;
      MarkMoveStart(s);
      cs.motionActive = 1;
      s.motion.MotionStep = kHomeApproaching;
      [[fallthrough]];
    case kHomeApproaching:
    case kHomeConfirmingApproachStop:
      // The card ends the approach at the home switch and then reports that it stopped. An
      // approach that ran out its rows found no switch (a broken wire, a switch not fitted):
      // wherever the axis stands is no reference.
      if (!MoveStopped(s, kHomeApproaching, kHomeConfirmingApproachStop)) return;
      if (RanWholeLength(s)) {
        ReportToHost(s, kSwitchNotFoundText);
        EndWithoutResult(s);
        return;
      }
      s.host.control->MotionIdle = 1;
      s.motion.MotionStep = kHomeAwaitingSlot;
      [[fallthrough]];
    case kHomeAwaitingSlot:
      if (cs.txLength != 0) return;
      SendHomePositions(s);
      s.motion.MotionStep = kHomeAwaitingPositions;
      return;
    case kHomeAwaitingPositions:
      if (cs.txLength != 0) return;
      Queue(cs, BuildProfileStartCmd(cs));
      s.motion.MotionStep = kHomeAwaitingHost;
      return;
    case kHomeAwaitingHost:
      // The pull-off waits until the host has taken note of the end of the previous sequence.
      if (s.host.machine->SequenceEnded != 0 || cs.txLength != 0) return;
      BuildHomePullOff(s.settings, *s.host.control, cs, s.motion.ActiveAxis);
      cs.motionActive = 1;
      s.host.control->MotionIdle = 0;
      s.motion.MotionStep = kHomePullingOff;
      [[fallthrough]];
    case kHomePullingOff:
    case kHomeConfirmingPullOffStop:
      // A card that restarted during the pull-off has forgotten the reference position.
      if (MoveStopped(s, kHomePullingOff, kHomeConfirmingPullOffStop)) EndHoming(s);
      return;
    default:
      DropForeignStep(s);
      return;
  }
}

void RunProbing(PluginState& s) {
  CardSession& cs = *s.session;
  switch (s.motion.MotionStep) {
    case kAtStart:
      if (cs.txLength != 0) return;
      Queue(cs, BuildProbeStartCmd(cs));
      s.motion.MotionStep = kProbeAwaitingStart;
      return;
    case kProbeAwaitingStart:
      if (cs.txLength != 0) return;
      MarkMoveStart(s);
      cs.motionActive = 1;
      s.motion.MotionStep = kProbeFeeding;
      [[fallthrough]];
    case kProbeFeeding:
    case kProbeConfirmingStop:
      // The probe input (or the end of the profiles) stops the card, which then reports it. A
      // move that reached its full depth touched nothing: where it ended is no probe position.
      if (!MoveStopped(s, kProbeFeeding, kProbeConfirmingStop)) return;
      if (RanWholeLength(s)) {
        ReportToHost(s, kNoContactText);
        EndWithoutResult(s);
      } else {
        EndProbing(s);
      }
      return;
    default:
      DropForeignStep(s);
      return;
  }
}

}  // namespace torvexan
