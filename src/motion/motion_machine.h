// The motion state machine: decides each tick what the card receives next.
#pragma once

#include "state/plugin_state.h"

namespace torvexan {

// One step of the sequence selected by MotionMode; called only while the link is up.
void MotionTick(PluginState& s);

// The next pass would send rows that this tick's exchanges did not carry: nothing is pending,
// and queue streaming has a batch for which the card has room, or the jog's feed wanted more
// than one packet carries.
bool MoreRowsWaiting(const PluginState& s);

// Nothing is pending and a full batch of rows waits that the card has room for: the queue's
// next batch, or the next rows of a homing or probing move. The card's buffer is below where
// the feed keeps it, and after a lossy link held batches back the next exchange need not wait
// for the next tick.
bool CatchingUp(const PluginState& s);

// Ends every sequence and returns to queue streaming.
void ResetMotion(PluginState& s);

// Tells the host that the running homing or probing sequence ends without its result.
void ReportSequenceAborted(const PluginState& s);

// Motion is under way or about to be: a sequence or dwell runs, the card executes rows, a batch
// is on its way to it, or the host has queued moves.
bool MotionInProgress(const PluginState& s);

}  // namespace torvexan
