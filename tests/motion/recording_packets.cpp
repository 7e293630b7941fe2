#include "recording_packets.h"

#include <algorithm>

namespace torvexan {

namespace {

constexpr int kRecordedLength = 15;  // any non-zero length marks the packet as pending

testing::SentPacket& Record(const CardSession& s, uint8_t command) {
  testing::SentPacket& p = testing::Sent().Add();
  p.command = command;
  p.tag = 0;
  p.count = 0;
  p.kind = 0;
  p.rowWidth = s.axisCount;
  p.channel = 0;
  p.slaveChannel = 0;
  p.mask = 0;
  p.headerFlags = s.headerFlags;
  return p;
}

}  // namespace

namespace testing {
PacketLog& Sent() {
  static PacketLog log;
  return log;
}
}  // namespace testing

bool IsUsbFamily(const CardSession& s) {
  return s.cardType == 3 || s.cardType == 4;
}

int BuildHaltCmd(CardSession& s) {
  Record(s, kHaltCmd);
  return kRecordedLength;
}

int BuildMotionCmd(CardSession& s, int32_t tag, uint8_t count, uint8_t kind,
                   const int32_t* segments) {
  testing::SentPacket& p = Record(s, kMotionCmd);
  p.tag = tag;
  p.count = count;
  p.kind = kind;
  if (segments != nullptr) {
    std::copy_n(segments, std::min<int>(count * s.axisCount, kRowBufferValues), p.rows);
  }
  return kRecordedLength + count * s.axisCount * 2;
}

int BuildStatusPoll(CardSession& s) {
  return BuildMotionCmd(s, 0, 0, kStatusPoll, nullptr);
}

int BuildProfileStartCmd(CardSession& s) {
  Record(s, kProfileStartCmd);
  return kRecordedLength;
}

int BuildHomeCmd(CardSession& s, uint8_t channel, uint8_t slaveChannel) {
  testing::SentPacket& p = Record(s, kHomeCmd);
  p.channel = channel;
  p.slaveChannel = slaveChannel;
  return kRecordedLength;
}

int BuildProbeStartCmd(CardSession& s) {
  Record(s, kProbeStartCmd);
  return kRecordedLength;
}

int BuildHandwheelJogCmd(CardSession& s, uint8_t channel, uint8_t slaveChannel) {
  testing::SentPacket& p = Record(s, kHandwheelJogCmd);
  p.channel = channel;
  p.slaveChannel = slaveChannel;
  return kRecordedLength;
}

int BuildStopMotionCmd(CardSession& s) {
  Record(s, kStopMotionCmd);
  return kRecordedLength;
}

int BuildEndOfStreamCmd(CardSession& s) {
  Record(s, kEndOfStreamCmd);
  return kRecordedLength;
}

int BuildSetPositionsCmd(CardSession& s, uint8_t mask, const int32_t* positionImage) {
  testing::SentPacket& p = Record(s, kSetPositionsCmd);
  p.mask = mask;
  std::copy_n(positionImage, kMaxCardAxes, p.positions);
  return kRecordedLength;
}

int BuildConfigureCmd(CardSession& s, const IoConfig&, const ConfigureInputs&) {
  Record(s, kConfigureCmd);
  return kRecordedLength;
}

int ParseEthReply(CardSession&, const uint8_t*, int) {
  return kReplyAccepted;
}
int ParseUsbReply(CardSession&, const uint8_t*) {
  return kReplyAccepted;
}
int BuildDiscoveryRequest(const CardSession&, uint8_t*) {
  return kDiscoveryRequestLength;
}
void ChainEncode(uint8_t*, int) {}
void ChainDecode(uint8_t*, int) {}

}  // namespace torvexan
