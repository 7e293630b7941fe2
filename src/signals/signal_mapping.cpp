#include "signals/signal_mapping.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "link/card_session.h"
#include "link/link_machine.h"
#include "motion/motion_machine.h"
#include "motion/queue_rows.h"
#include "motion/reset_path.h"
#include "signals/io_config.h"

namespace torvexan {

namespace {

constexpr int32_t kCardStateMoving = 3;   // executing motion
constexpr int32_t kCardStateMoving2 = 4;  // executing motion, last rows
constexpr int32_t kStopCodeEStop = 6;     // the host's stop code for an emergency stop
constexpr int32_t kJogModeHandwheel = 2;
constexpr int32_t kJogModeNone = 0;
constexpr uint8_t kFreshSampleBit = 0x80;     // statusBits: the reply carries a new sample
constexpr uint16_t kMinSpeedSampleTicks = 5;  // cardTime ticks between speed samples
constexpr double kCardTimeTicksPerSecond = 200.0;
constexpr int32_t kX10Factor = 10;
constexpr int32_t kX100Factor = 100;

constexpr int kCardInputPins = 16;
constexpr int kCardOutputPins = 4;
constexpr const char* kOverrideExitedText = "(Override Mode Exited.)";
constexpr const char* kLinkLostText = "(Card link lost! Motion stopped, Estop.)";

bool CardMoving(int32_t cardState) {
  return cardState == kCardStateMoving || cardState == kCardStateMoving2;
}

void ClearStepRemainders(PluginState& s) {
  for (double& r : s.motion.StepRemainders) r = 0.0;
}

// The card's step positions into the host axes its channels drive.
void CopyCardPositions(PluginState& s, const CardSession& c) {
  HostMachine& m = *s.host.machine;
  for (int i = 0; i < c.axisCount && i < kCardChannels; ++i) {
    const int h = s.settings.AxisMap[i];
    if (IsHostAxis(h)) m.Axes[h].PositionCounts = c.axisPosition[i];
  }
}

// Steps per second over dt card ticks; a distance too large for the host's field saturates
// instead of converting out of range.
int32_t SpeedSample(int32_t newPosition, int32_t oldPosition, uint16_t dt) {
  const double steps = std::fabs(static_cast<double>(newPosition) - oldPosition);
  const double speed = steps * kCardTimeTicksPerSecond / dt;
  return static_cast<int32_t>(std::min(speed, double{std::numeric_limits<int32_t>::max()}));
}

// Handwheel counts with the selected multiplier, and handwheel jog mode from the axis selector.
void MapHandwheel(const CardSession& c, HostMachine& m, HostControl& hc) {
  uint32_t factor = 1;
  if (c.inputBits & c.mpgX10Mask) {
    factor = kX10Factor;
  } else if (c.inputBits & c.mpgX100Mask) {
    factor = kX100Factor;
  }
  // The host's counter runs freely and wraps like the card's own.
  m.MpgCounts = static_cast<int32_t>(static_cast<uint32_t>(m.MpgCounts) +
                                     static_cast<uint32_t>(c.mpgDelta) * factor);
  if (c.inputBits & c.mpgAnyAxisMask) {
    hc.JogMode = kJogModeHandwheel;
  } else if (hc.JogMode == kJogModeHandwheel) {
    hc.JogMode = kJogModeNone;
  }
}

// A pin's level as the host sees it through the signal's polarity.
bool SignalActive(bool pinHigh, HostBool activeLow) {
  return pinHigh != (activeLow != 0);
}

bool AnyLimitActive(const HostMachine& m) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    const InputSignal& first = m.InputSignals[FirstLimitInput(a)];
    const InputSignal& second = m.InputSignals[SecondLimitInput(a)];
    if ((first.Enabled && first.Active) || (second.Enabled && second.Active)) return true;
  }
  return false;
}

}  // namespace

// Fold the card's positions, speeds, state, handwheel and move tag into the host.
void MapFeedback(PluginState& s) {
  CardSession& c = *s.session;
  HostMachine& m = *s.host.machine;
  HostControl& hc = *s.host.control;
  const int32_t mode = s.motion.MotionMode;

  if (!CardMoving(c.cardState)) {
    c.motionActive = 0;
    if (mode == kQueueStreaming) hc.MotionIdle = 1;
    // Motion ended: the fractions of the finished stream must not leak into the next. A card
    // that ran dry while the host's queue still holds entries has not seen the end of the
    // stream, only a gap in it (a stalled link): its fractions belong to the entries that
    // follow, and dropping them would leave the job up to a step off on every axis. They go
    // once the queue is empty, also when the host emptied it itself after such a gap.
    if (QueuedEntries(m) == 0) ClearStepRemainders(s);
  }
  if (m.SequenceEnded) ClearStepRemainders(s);
  if (!hc.MotionIdle && mode == kQueueStreaming) {
    m.CurrentMoveTag = static_cast<int32_t>(c.cardCounter);
  }
  // A card that is being configured reports state 0 until it has taken its configuration. One
  // that halted on its own (a restart, its e-stop input) gets nothing switched on again, nor
  // any motion, until the host resets it, whatever the host's outputs say meanwhile.
  if (CardHalted(c) && !(s.requests.RequestFlags & kRequestConfigure)) {
    HoldOutputsOff(c);
    if (!m.EStop) {
      m.StopCode = kStopCodeEStop;
      m.EStop = 1;
    }
  }
  if (!s.settings.MPGDisable) MapHandwheel(c, m, hc);

  int32_t oldPositions[kHostAxisCount];
  for (int a = 0; a < kHostAxisCount; ++a) oldPositions[a] = m.Axes[a].PositionCounts;
  const uint16_t dt = static_cast<uint16_t>(c.cardTime - s.mapping.LastCardTime);
  if (!(c.statusBits & kFreshSampleBit)) return;
  CopyCardPositions(s, c);
  // Shorter intervals give a jumpy speed display; wait until enough card time has passed.
  if (dt < kMinSpeedSampleTicks) return;
  s.mapping.LastCardTime = c.cardTime;
  for (int a = 0; a < kHostAxisCount; ++a) {
    m.AxisSpeed[a] = SpeedSample(m.Axes[a].PositionCounts, oldPositions[a], dt);
  }
}

// Set the host's input signals from the card's pins and act on the card's emergency stop.
void MapInputs(PluginState& s) {
  CardSession& c = *s.session;
  HostMachine& m = *s.host.machine;
  if (c.inputBits & c.estopMask) {
    m.EStop = 1;
    m.StopCode = kStopCodeEStop;
    // Repeated on every exchange while the input stays active: the halt keeps being asked for.
    ResetMachine(s);
  }
  for (InputSignal& in : m.InputSignals) {
    if (!in.Enabled || in.Port != kCardPort || in.Pin < 1 || in.Pin > kCardInputPins) continue;
    const bool pinHigh = (c.inputBits >> (in.Pin - 1)) & 1u;
    in.Active = SignalActive(pinHigh, in.ActiveLow) ? 1 : 0;
  }
  if (m.LimitOverride && !AnyLimitActive(m)) {
    ReportToHost(s, kOverrideExitedText);
    m.LimitOverride = 0;
  }
}

// Build the card's output bits for the next packet from the host's output signals.
void MapOutputs(const HostMachine& m, CardSession& session) {
  if (m.HostSuspended) return;
  uint8_t bits = 0;
  for (const OutputSignal& out : m.OutputSignals) {
    if (!out.Enabled || out.Port != kCardPort || out.Pin < 1 || out.Pin > kCardOutputPins) {
      continue;
    }
    const uint8_t bit = static_cast<uint8_t>(1u << (out.Pin - 1));
    if (SignalActive(out.Active != 0, out.ActiveLow)) {
      bits |= bit;
    } else {
      bits &= static_cast<uint8_t>(~bit);
    }
  }
  session.outputBits = bits;
}

void MapReply(PluginState& s) {
  MapFeedback(s);
  MapInputs(s);
  MapOutputs(*s.host.machine, *s.session);
  if (s.settings.MultiStep) ApplySpindleStep(*s.session);
}

void MapLinkLoss(PluginState& s) {
  if (!MotionInProgress(s)) return;
  // The card may have run on, stopped or restarted meanwhile: the job cannot simply go on, and
  // the operator must know why it stopped before the machine is referenced again.
  HostMachine& m = *s.host.machine;
  m.EStop = 1;
  m.StopCode = kStopCodeEStop;
  ReportToHost(s, kLinkLostText);
  ResetWithoutLink(s);
}

}  // namespace torvexan
