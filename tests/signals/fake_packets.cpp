// Stand-in packet builders for the dispatcher tests: header, command code, length and the
// position bytes at the places the card's layouts put them. Nothing else of the payload.
#include <cstring>

#include "link/packets.h"

namespace torvexan {

namespace {

constexpr int kEthCodeOffset = 8;
constexpr int kUsbCodeOffset = 3;

bool Usb(const CardSession& s) {
  return s.cardType == kCardPell4 || s.cardType == kCardPell5;
}

// Clears the family's buffer, writes the command code and returns the header length.
int Header(CardSession& s, uint8_t code) {
  if (Usb(s)) {
    std::memset(s.txPacket, 0, kUsbPacketLength);
    s.txPacket[kUsbCodeOffset] = code;
    return kUsbHeaderLength;
  }
  std::memset(s.txPacket, 0, kPacketBufferSize);
  s.txPacket[kEthCodeOffset] = code;
  return kEthHeaderLength;
}

void PutPositions(CardSession& s, int offset, const int32_t* positions) {
  for (int i = 0; i < s.axisCount; ++i) {
    const uint32_t v = static_cast<uint32_t>(positions[i]);
    for (int b = 0; b < 4; ++b) s.txPacket[offset + 4 * i + b] = static_cast<uint8_t>(v >> (8 * b));
  }
}

}  // namespace

int BuildHaltCmd(CardSession& s) {
  return Header(s, kHaltCmd);
}

int BuildStopMotionCmd(CardSession& s) {
  return Header(s, kStopMotionCmd);
}

int BuildSetPositionsCmd(CardSession& s, uint8_t mask, const int32_t* positionImage) {
  const int header = Header(s, kSetPositionsCmd);
  s.txPacket[header] = mask;
  PutPositions(s, header + 1, positionImage);
  return header + 1 + 4 * s.axisCount;
}

int BuildConfigureCmd(CardSession& s, const IoConfig&, const ConfigureInputs& in) {
  const int header = Header(s, kConfigureCmd);
  const int n = s.axisCount;
  if (Usb(s)) {
    PutPositions(s, header + 1, in.positionImage);
    return 42 + 2 * n;
  }
  if (s.cardType == kCardUnknown) return header;
  PutPositions(s, header + 1, in.positionImage);
  return (s.cardType == kCardLorn5 ? 25 : 24) + 6 * n;
}

}  // namespace torvexan
