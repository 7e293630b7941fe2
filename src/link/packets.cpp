#include "link/packets.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace torvexan {

namespace {

// Ethernet command header.
constexpr int kEthMarker = 0;  // 0x55 0xAA
constexpr int kEthKind = 2;
constexpr int kEthSequence = 3;  // u16
constexpr int kEthCommand = 8;
constexpr int kEthOutputs = 9;
constexpr int kEthSpindle = 10;  // u16
constexpr int kEthFlags = 14;
static_assert(kEthFlags + 1 == kEthHeaderLength);

// USB command header.
constexpr int kUsbDirection = 0;
constexpr int kUsbKind = 1;
constexpr int kUsbSequence = 2;
constexpr int kUsbCommand = 3;
constexpr int kUsbOutputs = 4;
constexpr int kUsbSpindle = 5;  // u16
constexpr int kUsbFlags = 7;
static_assert(kUsbFlags + 1 == kUsbHeaderLength);

constexpr uint8_t kMarker0 = 0x55;
constexpr uint8_t kMarker1 = 0xAA;
constexpr uint8_t kToCard = 2;
constexpr uint8_t kFromCard = 1;
constexpr uint8_t kKindDiscovery = 1;  // also the USB connect request
constexpr uint8_t kKindCommand = 2;
constexpr uint8_t kKindStatus = 3;
constexpr uint8_t kKindAcknowledge = 4;

constexpr int kUsbMotionFixed = 5;

// Ethernet status reply.
constexpr int kEthReplySequence = 3;
constexpr int kEthReplyFreeSlots = 5;
constexpr int kEthReplyCardTime = 6;
constexpr int kEthReplyCardState = 8;
constexpr int kEthReplyStatusBits = 10;
constexpr int kEthReplyInputBits = 11;
constexpr int kEthReplyMpgDelta = 13;
constexpr int kEthReplyCardCounter = 15;
constexpr int kEthReplyPositions = 19;  // then probe positions
constexpr int kEthAcknowledgeLength = kEthReplyFreeSlots + 1;

// USB status reply.
constexpr int kUsbReplySequence = 2;
constexpr int kUsbReplyFreeSlots = 3;
constexpr int kUsbReplyCardTime = 4;
constexpr int kUsbReplyCardState = 6;
constexpr int kUsbReplyStatusBits = 8;
constexpr int kUsbReplyInputBits = 9;
constexpr int kUsbReplyMpgDelta = 11;
constexpr int kUsbReplyCardCounter = 13;
constexpr int kUsbReplyPositions = 17;
static_assert(kUsbReplyPositions + 4 * kMaxCardAxes <= kUsbPacketLength);

// Discovery reply.
constexpr int kDiscoveryHardwareAddress = 8;  // 6 bytes
constexpr int kDiscoveryFirmwareMajor = 14;
constexpr int kDiscoveryFirmwareMinor = 15;
static_assert(kDiscoveryFirmwareMinor + 1 == kDiscoveryReplyMinLength);
constexpr int kHardwareAddressLength = 6;
constexpr char kEthDeviceName[] = "TorvexanEth V00.00";
constexpr int kEthNameMajor = 13;  // the two digits after the "V"
constexpr int kEthNameMinor = 16;  // the two digits after the "."

// ConfigureCmd.
constexpr uint8_t kConfigureLead = 0x1F;
constexpr uint8_t kConfigureTrail = 0xFF;
constexpr uint8_t kUsbConfigureConstant1 = 0x32;
constexpr uint8_t kUsbConfigureConstant2 = 0x50;
constexpr int kUsbConfigureAxisBlock = 29;  // whatever the axis count
constexpr int kZAxis = 2;
constexpr int kEthOutputPinCount = 4;
constexpr int kUsbOutputPinCount = 8;  // the byte holds eight outputs
constexpr uint8_t kFirstLimitLowActive = 0x10;
constexpr uint8_t kSecondLimitLowActive = 0x20;
constexpr uint8_t kHomeLowActive = 0x40;
constexpr uint8_t kDirectionLowActive = 0x80;
constexpr uint8_t kProbeLowActive = 0x10;
constexpr uint8_t kAuxLowActive = 0x20;
constexpr uint8_t kSpindleStepLowActive = 0x40;

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutI32(uint8_t* p, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The number of card channels a packet carries, whatever a corrupted axisCount says.
int Channels(const CardSession& s) {
  return s.axisCount < kMaxCardAxes ? static_cast<int>(s.axisCount) : kMaxCardAxes;
}

// Writes the header of the session's family; returns where the payload starts.
// What every header asks of the card's outputs and spindle: all off while they are held off.
uint8_t HeaderOutputs(const CardSession& s) {
  return s.outputsHeldOff ? 0 : static_cast<uint8_t>(s.outputBits);
}
uint16_t HeaderSpindle(const CardSession& s) {
  return s.outputsHeldOff ? 0 : s.spindleValue;
}

int BuildHeader(CardSession& s, uint8_t code) {
  uint8_t* p = s.txPacket;
  s.txEncoded = 0;
  s.txCode = code;
  s.txRows = 0;
  if (IsUsbFamily(s)) {
    std::memset(p, 0, kUsbPacketLength);
    p[kUsbDirection] = kToCard;
    p[kUsbKind] = kKindCommand;
    p[kUsbSequence] = s.usbSequence;
    s.txSequence = s.usbSequence;
    p[kUsbCommand] = code;
    p[kUsbOutputs] = HeaderOutputs(s);
    PutU16(p + kUsbSpindle, HeaderSpindle(s));
    p[kUsbFlags] = static_cast<uint8_t>(s.headerFlags);
    return kUsbHeaderLength;
  }
  std::memset(p, 0, kPacketBufferSize);
  p[kEthMarker] = kMarker0;
  p[kEthMarker + 1] = kMarker1;
  p[kEthKind] = kKindCommand;
  PutU16(p + kEthSequence, s.ethSequence);
  s.txSequence = s.ethSequence;
  p[kEthCommand] = code;
  p[kEthOutputs] = HeaderOutputs(s);
  PutU16(p + kEthSpindle, HeaderSpindle(s));
  p[kEthFlags] = static_cast<uint8_t>(s.headerFlags);
  return kEthHeaderLength;
}

// A command that is only its header.
int BuildBareCmd(CardSession& s, uint8_t code) {
  return BuildHeader(s, code);
}

// A command naming the channel a sequence works on and the channel slaved to it.
int BuildChannelPairCmd(CardSession& s, uint8_t code, uint8_t channel, uint8_t slaveChannel) {
  const int p = BuildHeader(s, code);
  s.txPacket[p] = channel;
  s.txPacket[p + 1] = slaveChannel;
  return p + 2;
}

// The per-channel and shared bytes of ConfigureCmd, computed once for both families.
struct ConfigureBytes {
  uint8_t pin[kMaxCardAxes];
  uint8_t flag[kMaxCardAxes];
  uint8_t probe;
  uint8_t spindle;
  uint8_t polarity;
  int32_t depth;
};

// Steps to the laser depth; a value beyond 32 bits saturates instead of wrapping into
// an arbitrary depth.
int32_t DepthSteps(int32_t zDeepth, double stepsPerUnit) {
  const double v = std::trunc(static_cast<double>(zDeepth) * stepsPerUnit);
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (v <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(v);
}

ConfigureBytes ComputeConfigureBytes(const CardSession& s, const IoConfig& io,
                                     const ConfigureInputs& in) {
  // A model without an axis map (the 4-axis Ethernet card) carries direction polarity in the
  // polarity byte instead of the flag bytes.
  const bool fixedChannels = !CardModelOf(s.cardType).configureFollowsAxisMap;
  ConfigureBytes b{};
  for (int i = 0; i < Channels(s); ++i) {
    const int32_t h = fixedChannels ? i : in.axisMap[i];
    if (!IsHostAxis(h)) continue;  // a channel mapped nowhere gets no pins
    b.pin[i] = static_cast<uint8_t>((io.secondLimitPin[h] << 4) | (io.firstLimitPin[h] & 0x0F));
    uint8_t flag = io.homePin[h] & 0x0F;
    if (io.firstLimitLowActive[h]) flag |= kFirstLimitLowActive;
    if (io.secondLimitLowActive[h]) flag |= kSecondLimitLowActive;
    if (io.homeLowActive[h]) flag |= kHomeLowActive;
    if (!fixedChannels && io.directionLowActive[h]) flag |= kDirectionLowActive;
    b.flag[i] = flag;
    if (io.stepLowActive[h]) b.polarity |= static_cast<uint8_t>(1u << i);
    if (fixedChannels && io.directionLowActive[h])
      b.polarity |= static_cast<uint8_t>(1u << (4 + i));
  }
  b.probe = static_cast<uint8_t>((io.auxPin << 4) | (io.probePin & 0x0F));
  b.spindle = io.spindleStepPin & 0x0F;
  if (io.probeLowActive) b.spindle |= kProbeLowActive;
  if (io.auxLowActive) b.spindle |= kAuxLowActive;
  if (io.spindleStepLowActive) b.spindle |= kSpindleStepLowActive;
  const int32_t z = fixedChannels ? kZAxis : in.axisMap[kZAxis];
  b.depth = IsHostAxis(z) ? DepthSteps(in.zDeepth, in.stepsPerUnit[z]) : 0;
  return b;
}

// One bit for outputs 1..count; no bit for anything else.
uint8_t OutputPinByte(int32_t outputPin, int count) {
  if (outputPin < 1 || outputPin > count) return 0;
  return static_cast<uint8_t>(1u << (outputPin - 1));
}

int BuildEthConfigure(CardSession& s, const IoConfig& io, const ConfigureInputs& in) {
  const int header = BuildHeader(s, kConfigureCmd);
  const ConfigureLayout layout = CardModelOf(s.cardType).configureLayout;
  // Until the first reply tells the model, the card only learns that a reset happened.
  if (layout == ConfigureLayout::kHeaderOnly) return header;
  const bool leadAndTrail = layout == ConfigureLayout::kEthLeadTrail;
  const int n = Channels(s);
  const ConfigureBytes b = ComputeConfigureBytes(s, io, in);
  uint8_t* p = s.txPacket;
  p[15] = leadAndTrail ? kConfigureLead : 0;
  for (int i = 0; i < n; ++i) {
    PutI32(p + 16 + 4 * i, in.positionImage[i]);
    p[16 + 4 * n + 2 * i] = b.pin[i];
    p[17 + 4 * n + 2 * i] = b.flag[i];
  }
  p[16 + 6 * n] = b.probe;
  p[17 + 6 * n] = b.spindle;
  p[18 + 6 * n] = b.polarity;
  p[19 + 6 * n] = OutputPinByte(in.outputPin, kEthOutputPinCount);
  PutI32(p + 20 + 6 * n, b.depth);
  if (!leadAndTrail) return 24 + 6 * n;
  p[24 + 6 * n] = kConfigureTrail;
  return 25 + 6 * n;
}

int BuildUsbConfigure(CardSession& s, const IoConfig& io, const ConfigureInputs& in) {
  BuildHeader(s, kConfigureCmd);
  const bool outputPinFirst =
      CardModelOf(s.cardType).configureLayout == ConfigureLayout::kUsbOutputPinFirst;
  const int n = Channels(s);
  const ConfigureBytes b = ComputeConfigureBytes(s, io, in);
  const uint8_t outputPin = OutputPinByte(in.outputPin, kUsbOutputPinCount);
  uint8_t* p = s.txPacket;
  const int a = kUsbConfigureAxisBlock;
  p[8] = kConfigureLead;
  for (int i = 0; i < n; ++i) {
    PutI32(p + 9 + 4 * i, in.positionImage[i]);
    p[a + 2 * i] = b.pin[i];
    p[a + 1 + 2 * i] = b.flag[i];
  }
  p[a + 2 * n] = b.probe;
  p[a + 1 + 2 * n] = b.spindle;
  p[a + 2 + 2 * n] = b.polarity;
  if (outputPinFirst) {
    p[a + 3 + 2 * n] = outputPin;
    PutI32(p + a + 4 + 2 * n, b.depth);
  } else {
    PutI32(p + a + 3 + 2 * n, b.depth);
    p[a + 7 + 2 * n] = outputPin;
  }
  p[a + 8 + 2 * n] = kConfigureTrail;
  p[a + 9 + 2 * n] = kUsbConfigureConstant1;
  p[a + 10 + 2 * n] = kUsbConfigureConstant2;
  PutU16(p + a + 11 + 2 * n, io.timingWord);
  return a + 13 + 2 * n;
}

char HexDigit(unsigned v) {
  return "0123456789ABCDEF"[v & 0x0F];
}

void PutHexByte(char* out, uint8_t v) {
  out[0] = HexDigit(v >> 4);
  out[1] = HexDigit(v);
}

}  // namespace

bool IsUsbFamily(const CardSession& s) {
  return CardModelOf(s.cardType).family == PacketFamily::kUsb;
}

bool PendingPacketFitsFamily(const CardSession& s) {
  return s.txPacket[0] == (IsUsbFamily(s) ? kToCard : kMarker0);
}

int BuildHaltCmd(CardSession& s) {
  return BuildBareCmd(s, kHaltCmd);
}
int BuildProfileStartCmd(CardSession& s) {
  return BuildBareCmd(s, kProfileStartCmd);
}
int BuildProbeStartCmd(CardSession& s) {
  return BuildBareCmd(s, kProbeStartCmd);
}
int BuildStopMotionCmd(CardSession& s) {
  return BuildBareCmd(s, kStopMotionCmd);
}
int BuildEndOfStreamCmd(CardSession& s) {
  return BuildBareCmd(s, kEndOfStreamCmd);
}

int BuildHomeCmd(CardSession& s, uint8_t channel, uint8_t slaveChannel) {
  return BuildChannelPairCmd(s, kHomeCmd, channel, slaveChannel);
}

int BuildHandwheelJogCmd(CardSession& s, uint8_t channel, uint8_t slaveChannel) {
  return BuildChannelPairCmd(s, kHandwheelJogCmd, channel, slaveChannel);
}

int BuildMotionCmd(CardSession& s, int32_t tag, uint8_t count, uint8_t kind,
                   const int32_t* segments) {
  const bool usb = IsUsbFamily(s);
  const int n = Channels(s);
  const int fixed = usb ? kUsbHeaderLength + kUsbMotionFixed : kEthHeaderLength + kEthMotionFixed;
  const int length = fixed + 2 * n * count;
  // The USB count field holds four bits; every row must fit the family's packet.
  if (length > (usb ? kUsbPacketLength : kPacketBufferSize)) return 0;
  const int p = BuildHeader(s, kMotionCmd);
  uint8_t* out = s.txPacket + p;
  s.txRows = usb ? static_cast<uint8_t>(count & 0x0F) : count;
  if (usb) {
    *out++ = static_cast<uint8_t>((count & 0x0F) | (kind << 4));
  } else {
    *out++ = kind;
    *out++ = count;
  }
  PutI32(out, tag);
  out += 4;
  for (int i = 0; i < n * count; ++i, out += 2) {
    const int16_t steps = static_cast<int16_t>(static_cast<uint16_t>(segments[i]));
    PutU16(out, static_cast<uint16_t>(steps));
    const uint16_t size = static_cast<uint16_t>(steps < 0 ? -int32_t{steps} : steps);
    if (size > s.largestRowSteps) s.largestRowSteps = size;
  }
  return length;
}

int BuildStatusPoll(CardSession& s) {
  return BuildMotionCmd(s, 0, 0, kStatusPoll, nullptr);
}

int BuildSetPositionsCmd(CardSession& s, uint8_t mask, const int32_t* positionImage) {
  const int p = BuildHeader(s, kSetPositionsCmd);
  const int n = Channels(s);
  s.txPacket[p] = mask;
  for (int i = 0; i < n; ++i) PutI32(s.txPacket + p + 1 + 4 * i, positionImage[i]);
  return p + 1 + 4 * n;
}

int BuildConfigureCmd(CardSession& s, const IoConfig& io, const ConfigureInputs& in) {
  return IsUsbFamily(s) ? BuildUsbConfigure(s, io, in) : BuildEthConfigure(s, io, in);
}

int ParseEthReply(CardSession& s, const uint8_t* r, int length) {
  if (length < kEthAcknowledgeLength) return kReplyTooShort;
  if (r[0] != kMarker0 || r[1] != kMarker1) return kReplyBadMarker;
  const uint8_t kind = r[kEthKind];
  if (kind != kKindStatus && kind != kKindAcknowledge) return kReplyBadKind;
  if (GetU16(r + kEthReplySequence) != s.txSequence) return kReplyForeignSequence;
  const int n = Channels(s);
  if (kind == kKindStatus && length < kEthReplyPositions + 8 * n) return kReplyTooShort;
  s.freeSlots = r[kEthReplyFreeSlots];
  if (kind == kKindAcknowledge) return kReplyAccepted;
  s.cardTime = GetU16(r + kEthReplyCardTime);
  s.cardState = static_cast<int8_t>(r[kEthReplyCardState]);
  s.statusBits = r[kEthReplyStatusBits];
  s.inputBits = GetU16(r + kEthReplyInputBits);
  s.mpgDelta = static_cast<int16_t>(GetU16(r + kEthReplyMpgDelta));
  s.cardCounter = GetU32(r + kEthReplyCardCounter);
  for (int i = 0; i < n; ++i) {
    s.axisPosition[i] = static_cast<int32_t>(GetU32(r + kEthReplyPositions + 4 * i));
    s.probePosition[i] = static_cast<int32_t>(GetU32(r + kEthReplyPositions + 4 * (n + i)));
  }
  return kReplyAccepted;
}

bool ReplyIsStatus(const CardSession& s) {
  return s.rxBuffer[IsUsbFamily(s) ? kUsbKind : kEthKind] == kKindStatus;
}

int ParseUsbReply(CardSession& s, const uint8_t* r) {
  if (r[kUsbDirection] != kFromCard) return kReplyBadMarker;
  const uint8_t kind = r[kUsbKind];
  if (kind != kKindStatus && kind != kKindAcknowledge) return kReplyBadKind;
  if (r[kUsbReplySequence] != s.txSequence) return kReplyForeignSequence;
  s.freeSlots = r[kUsbReplyFreeSlots];
  if (kind == kKindAcknowledge) return kReplyAccepted;
  s.cardTime = GetU16(r + kUsbReplyCardTime);
  s.cardState = r[kUsbReplyCardState];
  s.statusBits = r[kUsbReplyStatusBits];
  s.inputBits = GetU16(r + kUsbReplyInputBits);
  s.mpgDelta = static_cast<int16_t>(GetU16(r + kUsbReplyMpgDelta));
  s.cardCounter = GetU32(r + kUsbReplyCardCounter);
  for (int i = 0; i < Channels(s); ++i) {
    s.axisPosition[i] = static_cast<int32_t>(GetU32(r + kUsbReplyPositions + 4 * i));
  }
  return kReplyAccepted;
}

int BuildDiscoveryRequest(const CardSession& s, uint8_t* out) {
  out[0] = kMarker0;
  out[1] = kMarker1;
  out[2] = kKindDiscovery;
  PutU16(out + 3, s.ethSequence);
  return kDiscoveryRequestLength;
}

bool IsDiscoveryReply(const CardSession& s, const uint8_t* r, int length) {
  return length >= kDiscoveryReplyMinLength && r[0] == kMarker0 && r[1] == kMarker1 &&
         GetU16(r + kEthReplySequence) == s.ethSequence;
}

void TakeEthCardIdentity(CardSession& s, const uint8_t* r) {
  static_assert(sizeof s.serialText > 2 * kHardwareAddressLength);
  for (int i = 0; i < kHardwareAddressLength; ++i) {
    PutHexByte(s.serialText + 2 * i, r[kDiscoveryHardwareAddress + i]);
  }
  s.serialText[2 * kHardwareAddressLength] = '\0';
  static_assert(sizeof s.deviceName >= sizeof kEthDeviceName);
  std::memcpy(s.deviceName, kEthDeviceName, sizeof kEthDeviceName);
  PutHexByte(s.deviceName + kEthNameMajor, r[kDiscoveryFirmwareMajor]);
  PutHexByte(s.deviceName + kEthNameMinor, r[kDiscoveryFirmwareMinor]);
}

void BuildUsbConnectRequest(uint8_t* packet, uint8_t usbSequence) {
  packet[kUsbDirection] = kToCard;
  packet[kUsbKind] = kKindDiscovery;
  packet[kUsbSequence] = usbSequence;
}

bool ParseUsbConnectReply(CardSession& s, const uint8_t* r) {
  if (r[kUsbDirection] != kFromCard || r[kUsbKind] != kKindStatus ||
      r[kUsbReplySequence] != s.usbSequence) {
    return false;
  }
  s.freeSlots = r[kUsbReplyFreeSlots];
  s.cardTime = GetU16(r + kUsbReplyCardTime);
  // The connect reply is a full status: it tells a card that powered up halted before any
  // command reaches it.
  s.cardState = r[kUsbReplyCardState];
  return true;
}

void ChainEncode(uint8_t* data, int length) {
  for (int i = 1; i < length; ++i) data[i] ^= data[i - 1];
}

void ChainDecode(uint8_t* data, int length) {
  uint8_t previous = length > 0 ? data[0] : 0;
  for (int i = 1; i < length; ++i) {
    const uint8_t wire = data[i];
    data[i] = wire ^ previous;
    previous = wire;
  }
}

}  // namespace torvexan
