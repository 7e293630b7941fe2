#include "harness/timeline.h"

#include <algorithm>

namespace torvexan::sim {

void Timeline::Add(TimeParticipant* p) {
  if (count_ < kMaxParticipants) participants_[count_++] = p;
}

void Timeline::Remove(TimeParticipant* p) {
  auto end = std::remove(participants_, participants_ + count_, p);
  count_ = static_cast<int>(end - participants_);
}

void Timeline::Advance(uint64_t ms) {
  const uint64_t target = nowMs_ + ms;
  // A blocking USB call inside a participant's work must not start a second walk.
  if (advancing_) {
    nowMs_ = target;
    return;
  }
  advancing_ = true;
  for (;;) {
    uint64_t next = UINT64_MAX;
    for (int i = 0; i < count_; ++i) next = std::min(next, participants_[i]->NextEventMs());
    const uint64_t stop = std::min(std::max(next, nowMs_), target);
    nowMs_ = stop;
    for (int i = 0; i < count_; ++i) participants_[i]->RunUntil(nowMs_);
    if (stop == target) {
      // Packets that became due at the target itself may have answered with more due now.
      bool more = false;
      for (int i = 0; i < count_; ++i) more |= participants_[i]->NextEventMs() <= target;
      if (!more) break;
    }
  }
  advancing_ = false;
}

}  // namespace torvexan::sim
