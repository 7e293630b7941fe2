// Reads back the packet the motion code just built with the card's command builders, so the
// tests state commands, not wire bytes. Recording never allocates.
#pragma once

#include <cstdint>

#include "link/packets.h"
#include "motion/queue_rows.h"

namespace torvexan::testing {

struct SentPacket {
  uint8_t command;
  int32_t tag;
  uint8_t count;
  uint8_t kind;
  int32_t rows[kRowBufferValues];
  int rowWidth;  // axisCount when sent
  uint8_t channel;
  uint8_t slaveChannel;
  uint8_t mask;
  int32_t positions[kMaxCardAxes];
  uint32_t headerFlags;

  int32_t Row(int row, int channel) const { return rows[row * rowWidth + channel]; }
  bool IsPoll() const { return command == kMotionCmd && kind == kStatusPoll; }
};

class PacketLog {
 public:
  static constexpr int kCapacity = 512;

  void Clear() { total_ = 0; }
  int Total() const { return total_; }
  // The i-th packet built since the last Clear (the log keeps the last kCapacity).
  const SentPacket& At(int i) const { return packets_[i % kCapacity]; }
  const SentPacket& Last() const { return At(total_ - 1); }
  SentPacket& Add() { return packets_[total_++ % kCapacity]; }

 private:
  SentPacket packets_[kCapacity];
  int total_ = 0;
};

// The log of the packets built so far.
PacketLog& Sent();

// Decodes the pending packet of the session (Ethernet or USB family) into the log.
void RecordBuiltPacket(const CardSession& s);

}  // namespace torvexan::testing
