// One direction of a link between the plug-in and a card, with the faults a bad cable or a
// busy switch would cause: packets dropped, held back, doubled or damaged, chosen by a seeded
// generator so a failing run can be repeated. Packets in flight wait in a fixed ring.
#pragma once

#include <cstdint>

namespace torvexan::sim {

struct FaultShares {
  double drop = 0;       // share of packets lost
  double delay = 0;      // share held back by delayMs on top of the latency
  double duplicate = 0;  // share delivered twice
  double corrupt = 0;    // share with one byte damaged
  uint32_t delayMs = 30;
};

struct FaultCounts {
  uint32_t passed = 0, dropped = 0, delayed = 0, duplicated = 0, corrupted = 0, overflowed = 0;
};

class FaultLink {
 public:
  static constexpr int kSlots = 64;
  static constexpr int kMaxPacket = 1024;

  struct Packet {
    uint64_t dueMs = 0;
    uint64_t route = 0;  // whatever the owner needs to deliver it (socket, endpoint)
    int length = 0;
    uint8_t bytes[kMaxPacket];
  };

  explicit FaultLink(uint64_t seed = 1) : state_(seed ? seed : 1) {}

  void SetShares(const FaultShares& shares) { shares_ = shares; }
  const FaultShares& shares() const { return shares_; }
  void SetLatency(uint32_t ms) { latencyMs_ = ms; }
  void Reseed(uint64_t seed) { state_ = seed ? seed : 1; }
  const FaultCounts& counts() const { return counts_; }

  // Puts a packet on the line at time nowMs; the faults decide if, when and how it arrives.
  void Send(uint64_t nowMs, const uint8_t* bytes, int length, uint64_t route);
  // Earliest arrival time of a packet in flight, or UINT64_MAX.
  uint64_t NextDue() const;
  // Takes the earliest packet due by nowMs; false when none is.
  bool TakeDue(uint64_t nowMs, Packet& out);
  // Forgets everything in flight (a cable pulled).
  void Clear() { used_ = 0; }
  int inFlight() const { return used_; }

 private:
  double NextUnit();
  uint64_t NextRandom();
  void Enqueue(uint64_t dueMs, const uint8_t* bytes, int length, uint64_t route);

  FaultShares shares_;
  FaultCounts counts_;
  uint32_t latencyMs_ = 0;
  uint64_t state_;
  Packet slots_[kSlots];
  int used_ = 0;
  uint64_t order_ = 0;
  uint64_t slotOrder_[kSlots] = {};
};

}  // namespace torvexan::sim
