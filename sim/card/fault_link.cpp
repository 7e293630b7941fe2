#include "card/fault_link.h"

#include <algorithm>
#include <cstring>

namespace torvexan::sim {

uint64_t FaultLink::NextRandom() {
  // xorshift64*: small, fast and the same on every platform.
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545F4914F6CDD1DULL;
}

double FaultLink::NextUnit() {
  return static_cast<double>(NextRandom() >> 11) * 0x1.0p-53;
}

void FaultLink::Enqueue(uint64_t dueMs, const uint8_t* bytes, int length, uint64_t route) {
  if (used_ == kSlots || length > kMaxPacket || length < 0) {
    ++counts_.overflowed;
    return;
  }
  Packet& p = slots_[used_];
  p.dueMs = dueMs;
  p.route = route;
  p.length = length;
  std::memcpy(p.bytes, bytes, static_cast<size_t>(length));
  slotOrder_[used_] = order_++;
  ++used_;
}

void FaultLink::Send(uint64_t nowMs, const uint8_t* bytes, int length, uint64_t route) {
  const double u = NextUnit();
  double edge = shares_.drop;
  const uint64_t due = nowMs + latencyMs_;
  if (u < edge) {
    ++counts_.dropped;
    return;
  }
  if (u < (edge += shares_.delay)) {
    ++counts_.delayed;
    Enqueue(due + shares_.delayMs, bytes, length, route);
    return;
  }
  if (u < (edge += shares_.duplicate)) {
    ++counts_.duplicated;
    Enqueue(due, bytes, length, route);
    Enqueue(due, bytes, length, route);
    return;
  }
  if (u < (edge += shares_.corrupt) && length > 0) {
    ++counts_.corrupted;
    uint8_t damaged[kMaxPacket];
    const int kept = std::min(length, kMaxPacket);
    std::memcpy(damaged, bytes, static_cast<size_t>(kept));
    const int at = static_cast<int>(NextRandom() % static_cast<uint64_t>(kept));
    damaged[at] ^= static_cast<uint8_t>(1 + NextRandom() % 255);
    Enqueue(due, damaged, length, route);
    return;
  }
  ++counts_.passed;
  Enqueue(due, bytes, length, route);
}

uint64_t FaultLink::NextDue() const {
  uint64_t due = UINT64_MAX;
  for (int i = 0; i < used_; ++i) due = std::min(due, slots_[i].dueMs);
  return due;
}

bool FaultLink::TakeDue(uint64_t nowMs, Packet& out) {
  // Earliest due first; among equals, the one sent first.
  int best = -1;
  for (int i = 0; i < used_; ++i) {
    if (slots_[i].dueMs > nowMs) continue;
    if (best < 0 || slots_[i].dueMs < slots_[best].dueMs ||
        (slots_[i].dueMs == slots_[best].dueMs && slotOrder_[i] < slotOrder_[best]))
      best = i;
  }
  if (best < 0) return false;
  out.dueMs = slots_[best].dueMs;
  out.route = slots_[best].route;
  out.length = slots_[best].length;
  std::memcpy(out.bytes, slots_[best].bytes, static_cast<size_t>(out.length));
  --used_;
  if (best != used_) {
    slots_[best] = slots_[used_];
    slotOrder_[best] = slotOrder_[used_];
  }
  return true;
}

}  // namespace torvexan::sim
