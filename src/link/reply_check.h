// The replies carry no checksum: a byte damaged on the wire that leaves the marker, kind and
// sequence intact is parsed like any other. A free-slot count read too high makes the plug-in
// send rows the card has no room for, and the card drops them: steps lost for good. So a
// status reply is first judged against the last one trusted. The card's clock counts its
// 5 ms periods and the card runs at most one row per period, which bounds how far its clock,
// its free slots and its positions can have moved since. A reply outside those bounds is
// held back and the packet sent again: the card answers a repeated packet with the same
// reply, so a copy that agrees with the last trusted reply or with the held one is taken
// (a card that restarted or halted really did jump), and a damaged copy is never taken.
#pragma once

#include <cstdint>

#include "link/card_session.h"
#include "state/plugin_state.h"

namespace torvexan {

// Rows the Ethernet card buffers: the free space it reports when it holds none.
inline constexpr int kCardBufferRows = 199;

// The reply fields a parser writes, kept so that a reply held back leaves no trace.
struct ReplyFields {
  int32_t axisPosition[kMaxCardAxes];
  int32_t probePosition[kMaxCardAxes];
  uint16_t inputBits;
  int32_t mpgDelta;
  uint16_t cardTime;
  uint8_t freeSlots;
  int32_t cardState;
  uint8_t statusBits;
  uint32_t cardCounter;
  bool operator==(const ReplyFields&) const = default;
};

ReplyFields SaveReplyFields(const CardSession& s);
void RestoreReplyFields(CardSession& s, const ReplyFields& f);

// Notes the time (nowMs, the host's millisecond count) the pending packet first goes out; a
// resend keeps the first time.
void NotePacketSent(TransportState& t, uint32_t nowMs);

// Judges the reply the parser has just accepted into the session. True: taken, and it becomes
// the reference for the next. False: held back; the caller restores the saved fields and sends
// the packet again. handwheel: the handwheel drives the card, at a pace of its own.
bool TakeReply(TransportState& t, CardSession& c, uint32_t nowMs, bool handwheel, bool statusReply);

// The next reply starts a new reference: the link was (re)established.
void ForgetReplies(TransportState& t);

}  // namespace torvexan
