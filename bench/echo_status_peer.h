// The least a card can do: answer every command at once with the same status reply, under
// the command's sequence number. Put behind a connected Ethernet session, it leaves only the
// plug-in's own work in a tick, so a benchmark can tell it apart from the virtual card's.
#pragma once

#include <cstdint>

#include "support/forwarding_net.h"

namespace torvexan::bench {

class EchoStatusPeer : public testing::ForwardingNet {
 public:
  static constexpr int kMaxReply = 128;

  explicit EchoStatusPeer(NetApi& inner) : ForwardingNet(inner) {}

  // From now on the card's socket is answered here, with the last reply that came through
  // from the real card made into a streaming card with room for a full batch.
  bool StartEcho();
  bool echoing() const { return echoing_; }

  bool IsReadable(SocketHandle s) override;
  bool IsWritable(SocketHandle s) override { return echoing_ || inner().IsWritable(s); }
  int Send(SocketHandle s, const uint8_t* data, int length) override;
  int Receive(SocketHandle s, uint8_t* buffer, int capacity) override;

 private:
  bool echoing_ = false;
  uint8_t lastSeen_[kMaxReply] = {};  // the last reply from the real card, as on the wire
  int lastSeenLength_ = 0;
  uint8_t plain_[kMaxReply] = {};  // the reply to repeat, decoded
  int length_ = 0;
  uint8_t pending_[kMaxReply] = {};  // the answer to the last command, encoded
  bool answerPending_ = false;
};

}  // namespace torvexan::bench
