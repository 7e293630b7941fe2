#include "link/round_trips.h"

#include <algorithm>
#include <cstdlib>

namespace torvexan {

namespace {

constexpr int32_t kEighths = 8;
constexpr uint32_t kMostTicksNoted = 255;
constexpr int32_t kMissesAtFullPace = 3;
constexpr uint32_t kShortestReplyWaitTicks = 1;

// Whole ticks, rounded up, of a value kept in eighths of a tick.
uint32_t CeilTicks(uint32_t eighths) {
  return (eighths + kEighths - 1) / kEighths;
}

// change / parts, rounded away from zero.
int32_t PartOf(int32_t change, int32_t parts) {
  return change >= 0 ? (change + parts - 1) / parts : -((-change + parts - 1) / parts);
}

// The longest of the recent trips; measured: only those measured, not late answers.
uint32_t LongestRecent(const RoundTrips& r, bool measured = false) {
  uint32_t longest = 0;
  for (int i = 0; i < r.recentCount; ++i) {
    if (measured && (r.recentLate >> i & 1) != 0) continue;
    longest = std::max<uint32_t>(longest, r.recent[i]);
  }
  return longest;
}

void NoteRecent(RoundTrips& r, uint32_t ticks, bool late) {
  const uint16_t bit = static_cast<uint16_t>(1u << r.recentNext);
  r.recentLate = static_cast<uint16_t>(late ? r.recentLate | bit : r.recentLate & ~bit);
  r.recent[r.recentNext] = static_cast<uint8_t>(ticks);
  r.recentNext = static_cast<uint8_t>((r.recentNext + 1) % RoundTrips::kRecent);
  if (r.recentCount < RoundTrips::kRecent) ++r.recentCount;
}

}  // namespace

uint32_t ReplyWaitTicks(const RoundTrips& r) {
  if (!r.measured) return kLongestReplyWaitTicks;
  // No tick of granularity on top: a card that answers within the tick is sent a packet again
  // after two, and the longest recent trip keeps a card that sometimes takes longer from that.
  const uint32_t variation = CeilTicks(4 * r.variationEighths);
  uint32_t wait = CeilTicks(r.smoothedEighths) + variation;
  // A reply not read in the tick of its send is waited for one tick at least.
  wait = std::max({wait, LongestRecent(r), uint32_t{r.backedOffWait}, kShortestReplyWaitTicks});
  return std::min(wait, kLongestReplyWaitTicks);
}

uint32_t PromptReplyWaitTicks(const RoundTrips& r) {
  if (!r.measured) return kLongestReplyWaitTicks - 1;
  // A reply readable `trip` ticks after its send is read before the wait is judged in that
  // tick: a wait of one tick less sends nothing before its answer could be there.
  const uint32_t trip = std::max(LongestRecent(r, true), CeilTicks(r.smoothedEighths));
  return std::min(trip > 0 ? trip - 1 : 0, kLongestReplyWaitTicks);
}

void NoteRoundTrip(RoundTrips& r, uint32_t ticks) {
  ticks = std::min(ticks, kMostTicksNoted);
  const int32_t sample = static_cast<int32_t>(ticks) * kEighths;
  if (!r.measured) {
    // The first sample: its own value, half of it as the variation.
    r.measured = true;
    r.smoothedEighths = static_cast<uint32_t>(sample);
    r.variationEighths = static_cast<uint32_t>(sample / 2);
  } else {
    const int32_t error = sample - static_cast<int32_t>(r.smoothedEighths);
    // The variation moves a quarter of the way to the error and the smoothed trip an eighth of
    // the way to the sample, rounded away from the old value: a steady card's figures reach
    // its round trip rather than stopping short of it.
    const int32_t change = std::abs(error) - static_cast<int32_t>(r.variationEighths);
    r.variationEighths =
        static_cast<uint32_t>(static_cast<int32_t>(r.variationEighths) + PartOf(change, 4));
    r.smoothedEighths =
        static_cast<uint32_t>(static_cast<int32_t>(r.smoothedEighths) + PartOf(error, 8));
  }
  NoteRecent(r, ticks, false);
  r.backedOffWait = 0;
}

uint32_t WaitAfterMiss(uint32_t wait, int32_t misses) {
  // A lossy link loses the same packet two or three times in a row often enough that longer
  // waits would let the card's buffer run dry; after that the card is more likely silent, and
  // each wait is half as long again, so it gets about as many sends as with the fixed wait.
  if (misses <= kMissesAtFullPace) return wait;
  return std::min(wait + std::max<uint32_t>(wait / 2, 1), kLongestReplyWaitTicks);
}

void NoteLateAnswer(RoundTrips& r) {
  const uint32_t wait = ReplyWaitTicks(r);
  // The answer took longer than the wait: it counts among the recent trips as one tick more,
  // as no sample can tell by how much (Karn's rule).
  NoteRecent(r, std::min(wait + 1, kLongestReplyWaitTicks), true);
  r.backedOffWait = static_cast<uint8_t>(std::min(2 * wait, kLongestReplyWaitTicks));
}

}  // namespace torvexan
