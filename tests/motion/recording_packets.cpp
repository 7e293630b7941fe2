#include "recording_packets.h"

#include <cstring>

namespace torvexan::testing {

namespace {

int32_t I16(const uint8_t* p) {
  return static_cast<int16_t>(p[0] | (p[1] << 8));
}
int32_t I32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return static_cast<int32_t>(v);
}

}  // namespace

PacketLog& Sent() {
  static PacketLog log;
  return log;
}

void RecordBuiltPacket(const CardSession& s) {
  const bool usb = IsUsbFamily(s);
  const uint8_t* b = s.txPacket;
  const uint8_t* payload = b + (usb ? kUsbHeaderLength : kEthHeaderLength);
  SentPacket& p = Sent().Add();
  p = SentPacket{};
  p.command = usb ? b[3] : b[8];
  p.headerFlags = usb ? b[7] : b[14];
  p.rowWidth = s.axisCount;
  switch (p.command) {
    case kMotionCmd: {
      const uint8_t* rows;
      if (usb) {
        p.count = payload[0] & 0x0F;
        p.kind = payload[0] >> 4;
        p.tag = I32(payload + 1);
        rows = payload + 5;
      } else {
        p.kind = payload[0];
        p.count = payload[1];
        p.tag = I32(payload + 2);
        rows = payload + 6;
      }
      for (int i = 0; i < p.count * s.axisCount && i < kRowBufferValues; ++i) {
        p.rows[i] = I16(rows + 2 * i);
      }
      break;
    }
    case kHomeCmd:
    case kHandwheelJogCmd:
      p.channel = payload[0];
      p.slaveChannel = payload[1];
      break;
    case kSetPositionsCmd:
      p.mask = payload[0];
      for (int i = 0; i < s.axisCount; ++i) p.positions[i] = I32(payload + 1 + 4 * i);
      break;
    default:
      break;
  }
}

}  // namespace torvexan::testing
