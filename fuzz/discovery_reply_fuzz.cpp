// Any datagram answering a discovery request is judged without reading past it: only a reply
// of at least 16 bytes with the card's marker and the request's sequence is taken, and what it
// gives the session (the card's serial number and name) are always terminated texts of the
// expected form.
//
// Input: a flags byte (bit 0: the datagram is given plain and encoded here; bit 1: the
// sequence of the request is written into bytes 3 and 4 first), two bytes of the session's
// sequence counter, then the datagram.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/card_session.h"
#include "link/packets.h"

namespace {

using namespace torvexan;

constexpr size_t kSetupBytes = 3;
constexpr int kEchoedSequence = 3;  // where the card echoes the request's number
constexpr size_t kSerialDigits = 12;
constexpr const char kNamePrefix[] = "TorvexanEth V";

void Require(bool condition) {
  if (!condition) std::abort();
}

bool UpperHex(const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
        std::islower(static_cast<unsigned char>(text[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kSetupBytes) return 0;
  static CardSession s;  // large: one for every run
  s = CardSession{};
  ResetCardSession(s);
  s.ethSequence = static_cast<uint16_t>(data[1] | data[2] << 8);
  const size_t length = size - kSetupBytes;
  // Exactly the datagram's bytes: a read past them is an overflow the sanitizer sees.
  std::unique_ptr<uint8_t[]> reply(new uint8_t[length + (length == 0 ? 1 : 0)]);
  if (length > 0) std::memcpy(reply.get(), data + kSetupBytes, length);
  if ((data[0] & 2) && length > kEchoedSequence + 1) {
    reply[kEchoedSequence] = data[1];
    reply[kEchoedSequence + 1] = data[2];
  }
  if (data[0] & 1) ChainEncode(reply.get(), static_cast<int>(length));
  ChainDecode(reply.get(), static_cast<int>(length));

  const bool accepted = IsDiscoveryReply(s, reply.get(), static_cast<int>(length));
  const bool wellFormed =
      length >= kDiscoveryReplyMinLength && reply[0] == 0x55 && reply[1] == 0xAA &&
      (reply[kEchoedSequence] | reply[kEchoedSequence + 1] << 8) == s.ethSequence;
  Require(accepted == wellFormed);
  if (!accepted) return 0;
  TakeEthCardIdentity(s, reply.get());
  Require(std::strlen(s.serialText) == kSerialDigits && UpperHex(s.serialText, kSerialDigits));
  Require(std::memchr(s.deviceName, '\0', sizeof s.deviceName) != nullptr);
  Require(std::strncmp(s.deviceName, kNamePrefix, sizeof kNamePrefix - 1) == 0);
  return 0;
}
