// The card firmware's view of the wire: byte order, the chained XOR line code, and the offsets
// of every packet the card reads or writes. Written from the card's side only, so that a
// mistake in the plug-in's packet code shows up as a disagreement with this one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvexan::sim {

// Undo the line code in place: each wire byte is the XOR of all plain bytes up to it.
void DecodeChained(uint8_t* bytes, int length);
// Apply the line code in place.
void EncodeChained(uint8_t* bytes, int length);

inline uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline int16_t GetI16(const uint8_t* p) {
  return static_cast<int16_t>(GetU16(p));
}
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t GetI32(const uint8_t* p) {
  return static_cast<int32_t>(GetU32(p));
}
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Codes of the commands the card understands.
enum class CommandCode : uint8_t {
  kHalt = 1,
  kMotion = 3,
  kProfileStart = 4,
  kHome = 5,
  kProbeStart = 6,
  kHandwheelJog = 7,
  kStopMotion = 8,
  kEndOfStream = 9,
  kSetPositions = 10,
  kConfigure = 11,
};

// Packet kinds in byte 2 (Ethernet) or byte 1 (USB).
inline constexpr uint8_t kKindDiscover = 1;  // Ethernet discovery, USB connect
inline constexpr uint8_t kKindCommand = 2;
inline constexpr uint8_t kKindStatus = 3;
inline constexpr uint8_t kKindAck = 4;

// Ethernet family: what arrives on UDP port 1234 and what goes back.
namespace eth {
inline constexpr uint8_t kMarker0 = 0x55;
inline constexpr uint8_t kMarker1 = 0xAA;
inline constexpr int kKind = 2;
inline constexpr int kSequence = 3;  // u16
inline constexpr int kCode = 8;
inline constexpr int kOutputs = 9;
inline constexpr int kSpindle = 10;  // u16
inline constexpr int kFlags = 14;
inline constexpr int kHeaderLength = 15;
inline constexpr int kPayload = 15;
inline constexpr int kDiscoverRequestLength = 5;

// Status reply.
inline constexpr int kReplyFreeSlots = 5;
inline constexpr int kReplyCardTime = 6;  // u16
inline constexpr int kReplyState = 8;
inline constexpr int kReplyStatusBits = 10;
inline constexpr int kReplyInputs = 11;     // u16
inline constexpr int kReplyHandwheel = 13;  // i16
inline constexpr int kReplyCounter = 15;    // u32
inline constexpr int kReplyPositions = 19;  // i32 per axis, then the probe positions
inline constexpr int kReplyTrailer = 33;    // bytes after the probe positions
inline constexpr int kAckLength = 6;        // marker, kind, sequence, free slots
constexpr int StatusLength(int axes) {
  return kReplyPositions + 8 * axes + kReplyTrailer;
}
static_assert(StatusLength(4) == 84 && StatusLength(5) == 92);

// Discovery reply.
inline constexpr int kDiscoverAddress = 8;  // six bytes of hardware address
inline constexpr int kDiscoverMajor = 14;
inline constexpr int kDiscoverMinor = 15;
inline constexpr int kDiscoverReplyLength = 16;
}  // namespace eth

// USB family: 64-byte transfers in both directions.
namespace usb {
inline constexpr int kPacketLength = 64;
inline constexpr uint8_t kToCard = 2;
inline constexpr uint8_t kFromCard = 1;
inline constexpr int kDirection = 0;
inline constexpr int kKind = 1;
inline constexpr int kSequence = 2;
inline constexpr int kCode = 3;
inline constexpr int kOutputs = 4;
inline constexpr int kSpindle = 5;  // u16
inline constexpr int kFlags = 7;
inline constexpr int kPayload = 8;

inline constexpr int kReplyFreeSlots = 3;
inline constexpr int kReplyCardTime = 4;  // u16
inline constexpr int kReplyState = 6;
inline constexpr int kReplyStatusBits = 8;
inline constexpr int kReplyInputs = 9;      // u16
inline constexpr int kReplyHandwheel = 11;  // i16
inline constexpr int kReplyCounter = 13;    // u32
inline constexpr int kReplyPositions = 17;  // i32 per axis
static_assert(kReplyPositions + 4 * 5 <= kPacketLength);
}  // namespace usb

// ConfigureCmd bytes shared by both families, per axis and for the card as a whole.
namespace config {
inline constexpr uint8_t kFlagHomePinMask = 0x0F;
inline constexpr uint8_t kFlagLimit1Low = 0x10;
inline constexpr uint8_t kFlagLimit2Low = 0x20;
inline constexpr uint8_t kFlagHomeLow = 0x40;
inline constexpr uint8_t kFlagDirectionLow = 0x80;  // not on the 4-axis Ethernet card
inline constexpr uint8_t kSpindleProbeLow = 0x10;
inline constexpr uint8_t kSpindleAuxLow = 0x20;
inline constexpr uint8_t kSpindleStepLow = 0x40;
}  // namespace config

}  // namespace torvexan::sim
