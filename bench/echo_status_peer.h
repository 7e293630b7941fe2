// The least a card can do: answer every command at once with the same status reply, under
// the command's sequence number. Put behind a connected Ethernet session, it leaves only the
// plug-in's own work in a tick, so a benchmark can tell it apart from the virtual card's.
#pragma once

#include <cstdint>

#include "platform/net_api.h"

namespace torvexan::bench {

class EchoStatusPeer : public NetApi {
 public:
  static constexpr int kMaxReply = 128;

  explicit EchoStatusPeer(NetApi& inner) : inner_(inner) {}

  // From now on the card's socket is answered here, with the last reply that came through
  // from the real card made into a streaming card with room for a full batch.
  bool StartEcho();
  bool echoing() const { return echoing_; }

  int Startup(uint16_t requested, uint16_t* granted) override {
    return inner_.Startup(requested, granted);
  }
  void Cleanup() override { inner_.Cleanup(); }
  int HostName(char* buffer, int size) override { return inner_.HostName(buffer, size); }
  int LookupAddresses(const char* name, uint32_t* addresses, int capacity) override {
    return inner_.LookupAddresses(name, addresses, capacity);
  }
  SocketHandle OpenUdp() override { return inner_.OpenUdp(); }
  int Bind(SocketHandle s, uint32_t address, uint16_t port) override {
    return inner_.Bind(s, address, port);
  }
  int SetBroadcast(SocketHandle s, bool on) override { return inner_.SetBroadcast(s, on); }
  int SetNonBlocking(SocketHandle s) override { return inner_.SetNonBlocking(s); }
  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t address,
             uint16_t port) override {
    return inner_.SendTo(s, data, length, address, port);
  }
  bool IsReadable(SocketHandle s) override;
  bool IsWritable(SocketHandle s) override { return echoing_ || inner_.IsWritable(s); }
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) override {
    return inner_.ReceiveFrom(s, buffer, capacity, from);
  }
  int Connect(SocketHandle s, const Ipv4SocketAddress& to) override {
    return inner_.Connect(s, to);
  }
  int Send(SocketHandle s, const uint8_t* data, int length) override;
  int Receive(SocketHandle s, uint8_t* buffer, int capacity) override;
  void Shutdown(SocketHandle s) override { inner_.Shutdown(s); }
  void Close(SocketHandle s) override { inner_.Close(s); }
  int LastError() override { return inner_.LastError(); }

 private:
  NetApi& inner_;
  bool echoing_ = false;
  uint8_t lastSeen_[kMaxReply] = {};  // the last reply from the real card, as on the wire
  int lastSeenLength_ = 0;
  uint8_t plain_[kMaxReply] = {};  // the reply to repeat, decoded
  int length_ = 0;
  uint8_t pending_[kMaxReply] = {};  // the answer to the last command, encoded
  bool answerPending_ = false;
};

}  // namespace torvexan::bench
