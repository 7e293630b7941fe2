// The one virtual clock of an in-process test world. Networks and USB buses register here;
// advancing the timeline runs every card and delivers every packet in time order, so minutes
// of link activity take milliseconds and any time-out can be reached to the millisecond.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace torvexan::sim {

class TimeParticipant {
 public:
  virtual ~TimeParticipant() = default;
  // Time of the earliest packet this participant has in flight, or UINT64_MAX.
  virtual uint64_t NextEventMs() const = 0;
  // Runs its cards up to nowMs and delivers whatever is due by then.
  virtual void RunUntil(uint64_t nowMs) = 0;
};

class Timeline : public Clock {
 public:
  static constexpr int kMaxParticipants = 8;

  uint64_t now() const { return nowMs_; }
  // The plug-in's millisecond tick count (wraps like the system's).
  uint32_t TickCountMs() override { return static_cast<uint32_t>(nowMs_ + tickOffsetMs_); }
  // Starts the plug-in's tick count somewhere else, e.g. just before it wraps.
  void SetTickOffset(uint32_t offsetMs) { tickOffsetMs_ = offsetMs; }

  void Add(TimeParticipant* p);
  void Remove(TimeParticipant* p);
  // Lets ms milliseconds pass, stopping at every packet arrival on the way.
  void Advance(uint64_t ms);
  // Delivers what is due now without letting time pass.
  void Settle() { Advance(0); }

 private:
  uint64_t nowMs_ = 0;
  uint32_t tickOffsetMs_ = 0;
  TimeParticipant* participants_[kMaxParticipants] = {};
  int count_ = 0;
  bool advancing_ = false;
};

}  // namespace torvexan::sim
