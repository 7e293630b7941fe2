#include "link/reply_check.h"

#include <algorithm>
#include <cstdlib>

#include "link/packets.h"

namespace torvexan {

namespace {

constexpr uint32_t kMsPerCardPeriod = 5;
// The host's millisecond count may step by 16 ms at a time and the card's clock is read at
// an unknown point of its period: this many periods of leeway on the card's clock.
constexpr uint32_t kClockLeewayPeriods = 4;
constexpr int64_t kMostStepsPerPeriod = 32768;  // a row carries a 16-bit step count
constexpr int32_t kCardStateHalted = 0;

bool ResetsTheCard(uint8_t code) {
  // The card's buffer and positions may jump with these; their reply starts a new reference.
  return code == kHaltCmd || code == kConfigureCmd || code == kSetPositionsCmd;
}

ReplyMark MarkOf(const CardSession& c, bool handwheel, uint32_t sentMs) {
  ReplyMark m{};
  m.valid = true;
  m.handwheel = handwheel;
  m.cardTime = c.cardTime;
  m.freeSlots = c.freeSlots;
  for (int i = 0; i < kMaxCardAxes; ++i) {
    m.axisPosition[i] = c.axisPosition[i];
    m.probePosition[i] = c.probePosition[i];
  }
  m.sentMs = sentMs;
  return m;
}

// How far one channel can have moved in one period: no further than the largest row the
// plug-in has handed over, unless the handwheel drives the card.
int64_t StepsPerPeriod(const ReplyMark& from, const CardSession& c, bool handwheel) {
  if (from.handwheel || handwheel) return kMostStepsPerPeriod;
  return std::max<int64_t>(c.largestRowSteps, 1);
}

// Could the card have gone from what `from` said to what the session now holds, with rows
// handed over in between, by the time nowMs?
bool Reachable(const ReplyMark& from, const CardSession& c, bool handwheel, int rows,
               uint32_t nowMs) {
  const uint32_t periods = static_cast<uint16_t>(c.cardTime - from.cardTime);
  if (periods > (nowMs - from.sentMs) / kMsPerCardPeriod + kClockLeewayPeriods) return false;
  // A halted card has emptied its buffer; otherwise it frees at most one row per period.
  if (c.cardState != kCardStateHalted &&
      static_cast<int64_t>(c.freeSlots) > int64_t{from.freeSlots} - rows + periods) {
    return false;
  }
  const int64_t step = StepsPerPeriod(from, c, handwheel);
  const int64_t reach = step * (periods + 1);
  const int axes = c.axisCount < kMaxCardAxes ? int{c.axisCount} : kMaxCardAxes;
  for (int i = 0; i < axes; ++i) {
    const int64_t was = from.axisPosition[i], is = c.axisPosition[i];
    if (std::llabs(is - was) > reach) return false;
    // A probe contact is latched where the axis passed on its way between the two replies.
    const int64_t probe = c.probePosition[i];
    if (probe != from.probePosition[i] &&
        (probe < std::min(was, is) - step || probe > std::max(was, is) + step)) {
      return false;
    }
  }
  return true;
}

// The session and the saved copy name the reply's fields alike.
template <typename To, typename From>
void CopyReplyFields(To& to, const From& from) {
  for (int i = 0; i < kMaxCardAxes; ++i) {
    to.axisPosition[i] = from.axisPosition[i];
    to.probePosition[i] = from.probePosition[i];
  }
  to.inputBits = from.inputBits;
  to.mpgDelta = from.mpgDelta;
  to.cardTime = from.cardTime;
  to.freeSlots = from.freeSlots;
  to.cardState = from.cardState;
  to.statusBits = from.statusBits;
  to.cardCounter = from.cardCounter;
}

}  // namespace

ReplyFields SaveReplyFields(const CardSession& s) {
  ReplyFields f{};
  CopyReplyFields(f, s);
  return f;
}

void RestoreReplyFields(CardSession& s, const ReplyFields& f) {
  CopyReplyFields(s, f);
}

void NotePacketSent(TransportState& t, uint32_t nowMs) {
  if (t.PacketSent) return;
  t.PacketSent = true;
  t.PacketSentMs = nowMs;
}

void ForgetReplies(TransportState& t) {
  t.PacketSent = false;
  t.trustedReply.valid = false;
  t.heldReply.valid = false;
}

bool TakeReply(TransportState& t, CardSession& c, uint32_t nowMs, bool handwheel,
               bool statusReply) {
  const uint32_t sentMs = t.PacketSent ? t.PacketSentMs : nowMs;
  bool take;
  if (!statusReply) {
    // An acknowledgement carries nothing but the free slots: more than the buffer holds is
    // damage, whatever came before.
    take = c.freeSlots <= kCardBufferRows ||
           (t.heldReply.valid && t.heldReply.freeSlots == c.freeSlots);
  } else {
    take = !t.trustedReply.valid || ResetsTheCard(c.txCode) ||
           Reachable(t.trustedReply, c, handwheel, c.txRows, nowMs) ||
           // The card answers a repeated packet with its first answer: a second copy that
           // agrees with the held one is what the card said.
           (t.heldReply.valid && Reachable(t.heldReply, c, handwheel, 0, nowMs));
  }
  if (!take) {
    t.heldReply = MarkOf(c, handwheel, sentMs);
    ++c.counters.heldReplies;
    return false;
  }
  t.heldReply.valid = false;
  if (statusReply) {
    t.trustedReply = MarkOf(c, handwheel, sentMs);
  } else {
    // Only the free slots are known anew; the clock bound starts again with the next status.
    t.trustedReply.valid = false;
  }
  t.PacketSent = false;
  return true;
}

}  // namespace torvexan
