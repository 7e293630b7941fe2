// Any reply bytes, decoded as the transports decode them, parse without reading outside the
// datagram, for every card model and both packet families. A rejected reply leaves the
// session's card values untouched; an accepted one echoes the pending packet's sequence.
//
// Input: a flags byte (bit 0: the reply is given plain and encoded here, so that well-formed
// replies are easy to reach), two bytes of the session's sequence counter, then the reply.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "link/card_session.h"
#include "link/packets.h"
#include "link/reply_check.h"

namespace {

using namespace torvexan;

constexpr size_t kSetupBytes = 3;
// Where the card puts the echoed sequence and the free slots (the card's own view of the
// layouts, kept apart from the parser's constants).
constexpr int kEthEchoedSequence = 3;
constexpr int kEthFreeSlots = 5;
constexpr int kUsbEchoedSequence = 2;
constexpr int kUsbFreeSlots = 3;

void Require(bool condition) {
  if (!condition) std::abort();
}

// A session of the given model with a status poll pending, as the motion modes leave it.
void PrepareSession(CardSession& s, uint32_t cardType, uint16_t sequence) {
  s = CardSession{};
  ResetCardSession(s);
  if (cardType == kCardPell4) {
    s.cardType = kCardPell4;  // detection never sets it, so no model constants exist
    s.axisCount = 4;
  } else {
    ApplyCardModel(s, cardType);
  }
  s.ethSequence = sequence;
  s.usbSequence = static_cast<uint8_t>(sequence);
  s.axisPosition[0] = 0x11111111;  // so that a stray write shows
  s.txLength = BuildStatusPoll(s);
}

void CheckEthReply(CardSession& s, const std::vector<uint8_t>& wire) {
  // Exactly the datagram's bytes: a read past them is an overflow the sanitizer sees.
  std::unique_ptr<uint8_t[]> reply(new uint8_t[wire.size() + (wire.empty() ? 1 : 0)]);
  if (!wire.empty()) std::memcpy(reply.get(), wire.data(), wire.size());
  ChainDecode(reply.get(), static_cast<int>(wire.size()));
  const ReplyFields before = SaveReplyFields(s);
  const int r = ParseEthReply(s, reply.get(), static_cast<int>(wire.size()));
  if (r != kReplyAccepted) {
    Require(r == kReplyBadMarker || r == kReplyBadKind || r == kReplyForeignSequence ||
            r == kReplyTooShort);
    Require(SaveReplyFields(s) == before);
    return;
  }
  Require(wire.size() > kEthFreeSlots);
  Require((reply[kEthEchoedSequence] | reply[kEthEchoedSequence + 1] << 8) == s.txSequence);
  Require(s.freeSlots == reply[kEthFreeSlots]);
  // The decoding undoes exactly the card's encoding.
  ChainEncode(reply.get(), static_cast<int>(wire.size()));
  Require(wire.empty() || std::memcmp(reply.get(), wire.data(), wire.size()) == 0);
}

void CheckUsbReply(CardSession& s, const std::vector<uint8_t>& wire) {
  // The transport clears 64 bytes before each read, so a short transfer leaves zeros behind.
  std::unique_ptr<uint8_t[]> reply(new uint8_t[kUsbPacketLength]());
  const size_t transferred = wire.size() < kUsbPacketLength ? wire.size() : kUsbPacketLength;
  if (transferred > 0) std::memcpy(reply.get(), wire.data(), transferred);
  ChainDecode(reply.get(), kUsbPacketLength);
  const ReplyFields before = SaveReplyFields(s);
  const int r = ParseUsbReply(s, reply.get());
  if (r != kReplyAccepted) {
    Require(r == kReplyBadMarker || r == kReplyBadKind || r == kReplyForeignSequence);
    Require(SaveReplyFields(s) == before);
    return;
  }
  Require(reply[kUsbEchoedSequence] == s.txSequence);
  Require(s.freeSlots == reply[kUsbFreeSlots]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kSetupBytes) return 0;
  const uint16_t sequence = static_cast<uint16_t>(data[1] | data[2] << 8);
  std::vector<uint8_t> wire(data + kSetupBytes, data + size);
  if (data[0] & 1) ChainEncode(wire.data(), static_cast<int>(wire.size()));
  static CardSession session;  // large: one for every run
  for (uint32_t cardType = kCardUnknown; cardType <= kCardPell5; ++cardType) {
    PrepareSession(session, cardType, sequence);
    CheckEthReply(session, wire);
    PrepareSession(session, cardType, sequence);
    CheckUsbReply(session, wire);
  }
  return 0;
}
