// The resume points of every motion sequence. They share the one MotionStep, so each value
// belongs to exactly one sequence; 0 is "at the start" of whichever sequence runs.
#pragma once

#include <cstdint>

#include "state/plugin_state.h"

namespace torvexan {

enum MotionResume : uint16_t {
  kAtStart = 0,
  // Queue streaming.
  kStreamAwaitingSlot = 1,   // a batch may be built once no packet is pending
  kStreamAwaitingBatch = 2,  // the batch is being exchanged
  // Dwell.
  kDwellAwaitingTime = 10,
  // Jog.
  kJogAwaitingStart = 20,  // ProfileStartCmd is being exchanged
  kJogFeeding = 21,
  // Handwheel jog.
  kHandwheelAwaitingStart = 30,
  kHandwheelPolling = 31,
  // Homing.
  kHomeAwaitingStart = 40,
  kHomeApproaching = 41,
  kHomeAwaitingSlot = 42,  // the switch is found; positions go out next
  kHomeAwaitingPositions = 43,
  kHomeAwaitingHost = 44,  // ProfileStartCmd sent; the host must clear SequenceEnded
  kHomePullingOff = 45,
  kHomeConfirmingApproachStop = 46,  // a poll asks whether the card really stands
  kHomeConfirmingPullOffStop = 47,
  // Probing.
  kProbeAwaitingStart = 50,
  kProbeFeeding = 51,
  kProbeConfirmingStop = 52,
};

// Sends the pending packet that a builder returned the length of.
inline void Queue(CardSession& session, int length) {
  session.txLength = length;
}

// Abandons a resume point that belongs to another sequence; the current sequence starts afresh
// on the next tick.
inline void DropForeignStep(PluginState& s) {
  s.motion.MotionStep = kAtStart;
}

// The jog's first feed of this tick wanted more rows than one packet carries.
bool JogRowsWaiting(const PluginState& s);

// The profile-driven sequences.
void RunJog(PluginState& s);
void RunHandwheelJog(PluginState& s);
void RunHoming(PluginState& s);
void RunProbing(PluginState& s);

}  // namespace torvexan
