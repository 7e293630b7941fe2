// Any 64 bytes read as the answer to the USB connect request: only a reply with the card's
// direction marker, the status kind and the request's sequence is taken, and it changes only
// the free slots, the card's clock and the card's state (a card that powered up halted says so
// here, before any command reaches it).
//
// Input: a flags byte (bit 0: the reply is given plain and encoded here; bit 1: marker, kind
// and sequence are stamped in first), the session's USB sequence, then up to 64 reply bytes
// (a short transfer leaves the rest of the cleared buffer zero, as the transport clears it).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/card_session.h"
#include "link/packets.h"

namespace {

using namespace torvexan;

constexpr size_t kSetupBytes = 2;
// The card's own view of the connect reply.
constexpr int kDirection = 0;
constexpr int kKind = 1;
constexpr int kSequence = 2;
constexpr int kFreeSlots = 3;
constexpr int kCardTime = 4;  // u16
constexpr int kCardState = 6;
constexpr uint8_t kFromCard = 1;
constexpr uint8_t kStatusKind = 3;

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kSetupBytes) return 0;
  static CardSession s;
  static CardSession before;
  s = CardSession{};
  ResetCardSession(s);
  ApplyCardModel(s, kCardPell5);
  s.usbSequence = data[1];
  s.freeSlots = 0xEE;
  s.cardTime = 0xBEEF;
  uint8_t reply[kUsbPacketLength] = {};
  const size_t n = size - kSetupBytes < kUsbPacketLength ? size - kSetupBytes : kUsbPacketLength;
  if (n > 0) std::memcpy(reply, data + kSetupBytes, n);
  if (data[0] & 2) {
    reply[kDirection] = kFromCard;
    reply[kKind] = kStatusKind;
    reply[kSequence] = s.usbSequence;
  }
  if (data[0] & 1) ChainEncode(reply, kUsbPacketLength);
  ChainDecode(reply, kUsbPacketLength);
  before = s;
  const bool accepted = ParseUsbConnectReply(s, reply);
  Require(accepted == (reply[kDirection] == kFromCard && reply[kKind] == kStatusKind &&
                       reply[kSequence] == s.usbSequence));
  Require(s.usbSequence == before.usbSequence && s.online == before.online);
  if (accepted) {
    Require(s.freeSlots == reply[kFreeSlots]);
    Require(s.cardTime == (reply[kCardTime] | reply[kCardTime + 1] << 8));
    Require(s.cardState == reply[kCardState]);
    s.freeSlots = before.freeSlots;
    s.cardTime = before.cardTime;
    s.cardState = before.cardState;
  }
  // Nothing else of the session changed.
  Require(std::memcmp(&s, &before, sizeof s) == 0);
  return 0;
}
