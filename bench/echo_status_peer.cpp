#include "echo_status_peer.h"

#include <cstring>

#include "card/card_wire.h"

namespace torvexan::bench {

namespace {
constexpr uint8_t kRoomForEveryRow = 199;
constexpr uint8_t kStreamingState = 3;
constexpr uint8_t kFreshSample = 0x80;
constexpr uint16_t kCardTicksPerTick = 4;  // 20 ms of the card's 5 ms clock
}  // namespace

bool EchoStatusPeer::StartEcho() {
  using namespace sim::eth;
  if (lastSeenLength_ < StatusLength(4)) return false;
  std::memcpy(plain_, lastSeen_, static_cast<size_t>(lastSeenLength_));
  length_ = lastSeenLength_;
  sim::DecodeChained(plain_, length_);
  if (plain_[kKind] != sim::kKindStatus) return false;
  plain_[kReplyFreeSlots] = kRoomForEveryRow;
  plain_[kReplyState] = kStreamingState;
  plain_[kReplyStatusBits] |= kFreshSample;
  echoing_ = true;
  return true;
}

bool EchoStatusPeer::IsReadable(SocketHandle s) {
  return echoing_ ? answerPending_ : inner().IsReadable(s);
}

// Answers under the command's sequence number; the card's clock moves on by one tick's worth.
int EchoStatusPeer::Send(SocketHandle s, const uint8_t* data, int length) {
  using namespace sim::eth;
  if (!echoing_) return inner().Send(s, data, length);
  if (length <= kSequence + 1) return length;
  // Each wire byte is the XOR of the plain bytes up to it: two neighbours give a plain byte.
  const uint8_t sequence[2] = {static_cast<uint8_t>(data[kSequence] ^ data[kSequence - 1]),
                               static_cast<uint8_t>(data[kSequence + 1] ^ data[kSequence])};
  std::memcpy(plain_ + kSequence, sequence, sizeof sequence);
  sim::PutU16(plain_ + kReplyCardTime,
              static_cast<uint16_t>(sim::GetU16(plain_ + kReplyCardTime) + kCardTicksPerTick));
  std::memcpy(pending_, plain_, static_cast<size_t>(length_));
  sim::EncodeChained(pending_, length_);
  answerPending_ = true;
  return length;
}

int EchoStatusPeer::Receive(SocketHandle s, uint8_t* buffer, int capacity) {
  if (!echoing_) {
    const int received = inner().Receive(s, buffer, capacity);
    if (received > 0 && received <= kMaxReply) {
      std::memcpy(lastSeen_, buffer, static_cast<size_t>(received));
      lastSeenLength_ = received;
    }
    return received;
  }
  if (!answerPending_ || capacity < length_) return -1;
  answerPending_ = false;
  std::memcpy(buffer, pending_, static_cast<size_t>(length_));
  return length_;
}

}  // namespace torvexan::bench
