#include "linksim/wire_tap.h"

#include "card/card_wire.h"

namespace torvexan::testing {

int TappedDatagram::Sequence() const {
  constexpr size_t kSequenceAt = 3;
  if (bytes.size() < kSequenceAt + 2) return -1;
  std::vector<uint8_t> plain = bytes;
  sim::DecodeChained(plain.data(), static_cast<int>(plain.size()));
  return sim::GetU16(plain.data() + kSequenceAt);
}

std::vector<TappedDatagram> WireTap::Of(TappedDatagram::Kind kind, size_t from) const {
  std::vector<TappedDatagram> out;
  for (size_t i = from; i < log_.size(); ++i) {
    if (log_[i].kind == kind) out.push_back(log_[i]);
  }
  return out;
}

void WireTap::Note(TappedDatagram::Kind kind, const uint8_t* data, int length, uint32_t local) {
  log_.push_back(
      TappedDatagram{kind, tick_ ? *tick_ : 0, local, std::vector<uint8_t>(data, data + length)});
}

int WireTap::Bind(SocketHandle s, uint32_t address, uint16_t port) {
  boundSocket_ = s;
  boundAddress_ = address;
  return inner().Bind(s, address, port);
}

int WireTap::SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t address,
                    uint16_t port) {
  Note(TappedDatagram::Kind::kBroadcast, data, length, s == boundSocket_ ? boundAddress_ : 0);
  return inner().SendTo(s, data, length, address, port);
}

int WireTap::ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) {
  const int n = inner().ReceiveFrom(s, buffer, capacity, from);
  if (n > 0) Note(TappedDatagram::Kind::kReceived, buffer, n, 0);
  return n;
}

int WireTap::Send(SocketHandle s, const uint8_t* data, int length) {
  Note(TappedDatagram::Kind::kSend, data, length, 0);
  return inner().Send(s, data, length);
}

int WireTap::Receive(SocketHandle s, uint8_t* buffer, int capacity) {
  const int n = inner().Receive(s, buffer, capacity);
  if (n > 0) Note(TappedDatagram::Kind::kReceived, buffer, n, 0);
  return n;
}

}  // namespace torvexan::testing
