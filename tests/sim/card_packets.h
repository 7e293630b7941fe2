// Packets for the virtual card written straight from the layout tables, and a helper that
// sends them and decodes what comes back.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "card/card_wire.h"
#include "card/virtual_card.h"

namespace torvexan::sim::testing {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, int at, int v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, int at, int32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}
inline int32_t Get32(const Bytes& b, int at) {
  return static_cast<int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                              (static_cast<uint32_t>(b[at + 3]) << 24));
}
inline int Get16(const Bytes& b, int at) {
  return b[at] | (b[at + 1] << 8);
}

// Ethernet command: 15-byte header, then the payload.
inline Bytes Eth(uint8_t code, uint16_t seq, std::initializer_list<uint8_t> payload = {},
                 uint8_t outputs = 0, uint16_t spindle = 0, uint8_t flags = 0) {
  Bytes b(15, 0);
  b[0] = 0x55;
  b[1] = 0xAA;
  b[2] = 2;
  Put16(b, 3, seq);
  b[8] = code;
  b[9] = outputs;
  Put16(b, 10, spindle);
  b[14] = flags;
  b.insert(b.end(), payload);
  return b;
}

// Ethernet MotionCmd: kind, count, tag, then count rows of n values.
inline Bytes EthRows(uint16_t seq, uint8_t kind, int32_t tag, int n,
                     const std::vector<std::vector<int16_t>>& rows, uint8_t flags = 0) {
  Bytes b = Eth(3, seq, {kind, static_cast<uint8_t>(rows.size()), 0, 0, 0, 0}, 0, 0, flags);
  Put32(b, 17, tag);
  for (const auto& row : rows)
    for (int i = 0; i < n; ++i) {
      b.push_back(static_cast<uint8_t>(row[i]));
      b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(row[i]) >> 8));
    }
  return b;
}
inline Bytes EthPoll(uint16_t seq) {
  return EthRows(seq, 0, 0, 5, {});
}

// n identical rows.
inline std::vector<std::vector<int16_t>> Same(int count, std::vector<int16_t> row) {
  return std::vector<std::vector<int16_t>>(static_cast<size_t>(count), row);
}

// USB command: 8-byte header in a 64-byte packet.
inline Bytes Usb(uint8_t code, uint8_t seq, std::initializer_list<uint8_t> payload = {}) {
  Bytes b(64, 0);
  b[0] = 2;
  b[1] = 2;
  b[2] = seq;
  b[3] = code;
  int at = 8;
  for (uint8_t v : payload) b[at++] = v;
  return b;
}

// Sends plain bytes to the card (line-coded on the way) and returns the decoded answer.
inline Bytes Send(VirtualCard& card, Bytes plain) {
  EncodeChained(plain.data(), static_cast<int>(plain.size()));
  Bytes reply(kMaxReply, 0);
  const int n =
      card.usb() ? card.HandleUsbPacket(plain.data(), static_cast<int>(plain.size()), reply.data())
                 : card.HandleDatagram(plain.data(), static_cast<int>(plain.size()), reply.data(),
                                       kMaxReply);
  reply.resize(static_cast<size_t>(n));
  DecodeChained(reply.data(), n);
  return reply;
}

// Ethernet status reply fields by the layout table.
struct EthStatus {
  explicit EthStatus(const Bytes& r) : raw(r) {}
  Bytes raw;
  int kind() const { return raw[2]; }
  int sequence() const { return Get16(raw, 3); }
  int freeSlots() const { return raw[5]; }
  int cardTime() const { return Get16(raw, 6); }
  int state() const { return static_cast<int8_t>(raw[8]); }
  int statusBits() const { return raw[10]; }
  int inputs() const { return Get16(raw, 11); }
  int handwheel() const { return static_cast<int16_t>(Get16(raw, 13)); }
  uint32_t counter() const { return static_cast<uint32_t>(Get32(raw, 15)); }
  int32_t position(int i) const { return Get32(raw, 19 + 4 * i); }
  int32_t probe(int n, int i) const { return Get32(raw, 19 + 4 * n + 4 * i); }
};

// A 5-axis Ethernet ConfigureCmd: positions, then per-axis pin and flag bytes, then the
// shared bytes (probe, spindle, polarity, output pin), depth and the closing 0xFF.
struct AxisPins {
  uint8_t limit1 = 0, limit2 = 0, home = 0;
  bool limit1Low = false, limit2Low = false, homeLow = false, dirLow = false;
};
inline Bytes EthConfigure(uint16_t seq, int n, bool fourAxis, const std::vector<int32_t>& pos,
                          const std::vector<AxisPins>& pins, uint8_t probePin = 0,
                          bool probeLow = false, uint8_t polarity = 0) {
  Bytes b = Eth(11, seq);
  b.resize(static_cast<size_t>(fourAxis ? 24 + 6 * n : 25 + 6 * n), 0);
  b[15] = fourAxis ? 0 : 0x1F;
  for (int i = 0; i < n; ++i) {
    Put32(b, 16 + 4 * i, i < static_cast<int>(pos.size()) ? pos[i] : 0);
    const AxisPins p = i < static_cast<int>(pins.size()) ? pins[i] : AxisPins{};
    b[16 + 4 * n + 2 * i] = static_cast<uint8_t>((p.limit2 << 4) | (p.limit1 & 0x0F));
    b[17 + 4 * n + 2 * i] =
        static_cast<uint8_t>((p.home & 0x0F) | (p.limit1Low ? 0x10 : 0) | (p.limit2Low ? 0x20 : 0) |
                             (p.homeLow ? 0x40 : 0) | (!fourAxis && p.dirLow ? 0x80 : 0));
  }
  b[16 + 6 * n] = probePin & 0x0F;
  b[17 + 6 * n] = probeLow ? 0x10 : 0;
  b[18 + 6 * n] = polarity;
  b[19 + 6 * n] = 0x04;
  Put32(b, 20 + 6 * n, -1234);
  if (!fourAxis) b[24 + 6 * n] = 0xFF;
  return b;
}

}  // namespace torvexan::sim::testing
