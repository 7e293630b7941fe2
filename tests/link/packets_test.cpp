// Command packets byte for byte for every model, the wire codec, and the reply parsers.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>

#include "fake_net.h"
#include "link/card_session.h"
#include "link/packets.h"

namespace torvexan::testing {
namespace {

Bytes Packet(const CardSession& s, int length) {
  return Bytes(s.txPacket, s.txPacket + length);
}

// A session of the given model with header values whose bytes are easy to spot.
CardSession Model(uint32_t cardType) {
  CardSession s{};
  ResetCardSession(s);
  ApplyCardModel(s, cardType);
  if (cardType == kCardPell4) {  // never recognised, so its constants are set by hand
    s.cardType = kCardPell4;
    s.axisCount = 4;
  }
  s.ethSequence = 0x1234;
  s.usbSequence = 0x7F;
  s.outputBits = 0xAB5C;
  s.spindleValue = 1000;
  s.headerFlags = 0x142;
  s.txEncoded = 1;
  std::memset(s.txPacket, 0xEE, sizeof s.txPacket);
  return s;
}

const Bytes kEthHeader = {0x55, 0xAA, 0x02, 0x34, 0x12, 0, 0,   0,
                          0x00, 0x5C, 0xE8, 0x03, 0,    0, 0x42};
const Bytes kUsbHeader = {0x02, 0x02, 0x7F, 0x00, 0x5C, 0xE8, 0x03, 0x42};

// The expected packet: a header with the command code, then the payload.
Bytes Expect(const Bytes& header, uint8_t code, const Bytes& payload) {
  Bytes p = header;
  p[header.size() == 15 ? 8 : 3] = code;
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

TEST(PacketHeaders, EthernetHeaderClearsTheWholeBufferAndTakesTheSequence) {
  CardSession s = Model(kCardUnknown);
  ASSERT_EQ(BuildHaltCmd(s), 15);
  EXPECT_EQ(Packet(s, 15), Expect(kEthHeader, 1, {}));
  for (int i = 15; i < kPacketBufferSize; ++i) ASSERT_EQ(s.txPacket[i], 0) << i;
  EXPECT_EQ(s.txSequence, 0x1234);
  EXPECT_EQ(s.txEncoded, 0);
  EXPECT_EQ(s.ethSequence, 0x1234) << "only an accepted reply advances the counter";
}

TEST(PacketHeaders, UsbHeaderClearsSixtyFourBytes) {
  CardSession s = Model(kCardPell5);
  ASSERT_EQ(BuildHaltCmd(s), 8);
  EXPECT_EQ(Packet(s, 8), Expect(kUsbHeader, 1, {}));
  for (int i = 8; i < kUsbPacketLength; ++i) ASSERT_EQ(s.txPacket[i], 0) << i;
  EXPECT_EQ(s.txPacket[kUsbPacketLength], 0xEE);
  EXPECT_EQ(s.txSequence, 0x7F);
  EXPECT_EQ(s.txEncoded, 0);
}

TEST(PacketHeaders, HeaderOnlyCommandsOnBothFamilies) {
  struct Case {
    int (*build)(CardSession&);
    uint8_t code;
  };
  const Case cases[] = {{BuildHaltCmd, 1},
                        {BuildProfileStartCmd, 4},
                        {BuildProbeStartCmd, 6},
                        {BuildStopMotionCmd, 8},
                        {BuildEndOfStreamCmd, 9}};
  for (uint32_t model : {kCardUnknown, kCardLorn4, kCardLorn5, kCardPell4, kCardPell5}) {
    for (const Case& c : cases) {
      CardSession s = Model(model);
      const bool usb = model >= kCardPell4;
      ASSERT_EQ(c.build(s), usb ? 8 : 15) << model;
      EXPECT_EQ(Packet(s, usb ? 8 : 15), Expect(usb ? kUsbHeader : kEthHeader, c.code, {}))
          << "model " << model << " code " << int{c.code};
    }
  }
}

TEST(PacketCommands, HomeAndHandwheelJogCarryTheChannelAndItsSlave) {
  CardSession s = Model(kCardLorn5);
  ASSERT_EQ(BuildHomeCmd(s, 3, kUnmappedChannel), 17);
  EXPECT_EQ(Packet(s, 17), Expect(kEthHeader, 5, {3, 255}));
  ASSERT_EQ(BuildHandwheelJogCmd(s, 1, 0), 17);
  EXPECT_EQ(Packet(s, 17), Expect(kEthHeader, 7, {1, 0}));
  CardSession u = Model(kCardPell5);
  ASSERT_EQ(BuildHomeCmd(u, 2, 4), 10);
  EXPECT_EQ(Packet(u, 10), Expect(kUsbHeader, 5, {2, 4}));
  ASSERT_EQ(BuildHandwheelJogCmd(u, 4, 255), 10);
  EXPECT_EQ(Packet(u, 10), Expect(kUsbHeader, 7, {4, 255}));
}

TEST(PacketCommands, StatusPollIsAnEmptyMotionCommand) {
  CardSession s = Model(kCardLorn5);
  ASSERT_EQ(BuildStatusPoll(s), 21);
  EXPECT_EQ(Packet(s, 21), Expect(kEthHeader, 3, {0, 0, 0, 0, 0, 0}));
  CardSession u = Model(kCardPell5);
  ASSERT_EQ(BuildStatusPoll(u), 13);
  EXPECT_EQ(Packet(u, 64), [] {
    Bytes p = Expect(kUsbHeader, 3, {0, 0, 0, 0, 0});
    p.resize(64, 0);
    return p;
  }());
}

TEST(PacketCommands, MotionRowsAreLow16BitsInRowOrder) {
  const int32_t rows[] = {1, -1, 2, -2, 0x12345, 3, 4, 5, 6, 7};
  CardSession s = Model(kCardLorn5);
  ASSERT_EQ(BuildMotionCmd(s, 0x01020304, 2, kQueueSegments, rows), 41);
  EXPECT_EQ(Packet(s, 41),
            Expect(kEthHeader, 3, {1,    2,    0x04, 0x03, 0x02, 0x01, 1, 0, 0xFF, 0xFF, 2, 0, 0xFE,
                                   0xFF, 0x45, 0x23, 3,    0,    4,    0, 5, 0,    6,    0, 7, 0}));
  CardSession four = Model(kCardLorn4);
  ASSERT_EQ(BuildMotionCmd(four, -1, 1, kComputedSegments, rows), 29);
  EXPECT_EQ(
      Packet(four, 29),
      Expect(kEthHeader, 3, {2, 1, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0xFF, 0xFF, 2, 0, 0xFE, 0xFF}));
  CardSession u = Model(kCardPell5);
  ASSERT_EQ(BuildMotionCmd(u, 0x01020304, 2, kQueueSegments, rows), 33);
  EXPECT_EQ(Packet(u, 33),
            Expect(kUsbHeader, 3, {0x12, 0x04, 0x03, 0x02, 0x01, 1, 0, 0xFF, 0xFF, 2, 0, 0xFE, 0xFF,
                                   0x45, 0x23, 3,    0,    4,    0, 5, 0,    6,    0, 7, 0}));
  CardSession p4 = Model(kCardPell4);
  ASSERT_EQ(BuildMotionCmd(p4, 0, 1, kComputedSegments, rows), 21);
  EXPECT_EQ(p4.txPacket[8], 0x21);
}

TEST(PacketCommands, MotionRowsThatWouldOverflowThePacketAreRefused) {
  std::vector<int32_t> rows(5 * 255, 1);
  CardSession s = Model(kCardLorn5);
  EXPECT_EQ(BuildMotionCmd(s, 0, 100, kQueueSegments, rows.data()), 21 + 1000);
  EXPECT_EQ(BuildMotionCmd(s, 0, 101, kQueueSegments, rows.data()), 0);
  EXPECT_EQ(BuildMotionCmd(s, 0, 255, kQueueSegments, rows.data()), 0);
  CardSession u = Model(kCardPell5);
  EXPECT_EQ(BuildMotionCmd(u, 0, 5, kQueueSegments, rows.data()), 63);
  EXPECT_EQ(BuildMotionCmd(u, 0, 6, kQueueSegments, rows.data()), 0);
  CardSession p4 = Model(kCardPell4);
  EXPECT_EQ(BuildMotionCmd(p4, 0, 6, kQueueSegments, rows.data()), 61);
  EXPECT_EQ(BuildMotionCmd(p4, 0, 7, kQueueSegments, rows.data()), 0);
}

TEST(PacketCommands, SetPositionsCarriesTheMaskAndOnePositionPerChannel) {
  const int32_t image[] = {1, -2, 0x7FFFFFFF, 0, 5};
  const Bytes positions = {1,    0,    0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                           0xFF, 0x7F, 0, 0, 0,    0,    5,    0,    0,    0};
  CardSession s = Model(kCardLorn5);
  ASSERT_EQ(BuildSetPositionsCmd(s, 0x15, image), 36);
  Bytes payload = {0x15};
  payload.insert(payload.end(), positions.begin(), positions.end());
  EXPECT_EQ(Packet(s, 36), Expect(kEthHeader, 10, payload));
  CardSession four = Model(kCardLorn4);
  ASSERT_EQ(BuildSetPositionsCmd(four, 0x0F, image), 32);
  Bytes fourPayload = {0x0F};
  fourPayload.insert(fourPayload.end(), positions.begin(), positions.begin() + 16);
  EXPECT_EQ(Packet(four, 32), Expect(kEthHeader, 10, fourPayload));
  CardSession u = Model(kCardPell5);
  ASSERT_EQ(BuildSetPositionsCmd(u, 0x15, image), 29);
  EXPECT_EQ(Packet(u, 29), Expect(kUsbHeader, 10, payload));
}

// An I/O configuration in which every host axis has different pins and polarities.
struct ConfigureFixture : ::testing::Test {
  IoConfig io{};
  int32_t image[5] = {100, -100, 70000, 0, -1};
  int32_t axisMap[5] = {0, 1, 2, 5, 3};
  double stepsPerUnit[6] = {1, 1, 1000.5, 1, 1, 200.25};
  ConfigureInputs in{image, axisMap, 3, -3, stepsPerUnit};

  void SetUp() override {
    io.auxPin = 3;
    io.auxLowActive = 1;
    io.probePin = 5;
    io.probeLowActive = 1;
    for (int h = 0; h < 6; ++h) {
      io.firstLimitPin[h] = static_cast<uint8_t>(h + 1);
      io.firstLimitLowActive[h] = h % 2;
      io.secondLimitPin[h] = static_cast<uint8_t>(h + 7);
      io.secondLimitLowActive[h] = h == 0 || h == 3;
      io.homePin[h] = static_cast<uint8_t>(10 + h);
      io.homeLowActive[h] = h >= 3;
      io.directionLowActive[h] = h == 1 || h == 4 || h == 5;
      io.stepLowActive[h] = h == 0 || h == 2 || h == 5;
    }
    io.spindleStepPin = 14;
    io.spindleStepLowActive = 1;
    io.timingWord = 0xBEEF;
  }
};

const Bytes kImage5 = {0x64, 0, 0, 0, 0x9C, 0xFF, 0xFF, 0xFF, 0x70, 0x11,
                       0x01, 0, 0, 0, 0,    0,    0xFF, 0xFF, 0xFF, 0xFF};
const Bytes kDepth = {0x47, 0xF4, 0xFF, 0xFF};  // -3 units at 1000.5 steps, truncated: -3001

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(ConfigureFixture, Lorn5FollowsTheAxisMapAndEndsWithFF) {
  CardSession s = Model(kCardLorn5);
  ASSERT_EQ(BuildConfigureCmd(s, io, in), 55);
  const Bytes payload = Join({{0x1F},
                              kImage5,
                              {0x71, 0x2A, 0x82, 0x9B, 0x93, 0x0C, 0xC6, 0xDF, 0xA4, 0x7D},
                              {0x35, 0x7E, 0x0D, 0x04},
                              kDepth,
                              {0xFF}});
  EXPECT_EQ(Packet(s, 55), Expect(kEthHeader, 11, payload));
}

TEST_F(ConfigureFixture, Lorn4IgnoresTheAxisMapAndPutsDirectionsInThePolarityByte) {
  CardSession s = Model(kCardLorn4);
  axisMap[2] = 5;  // the 4-axis card always takes Z from host axis 2
  ASSERT_EQ(BuildConfigureCmd(s, io, in), 48);
  const Bytes payload = Join({{0x00},
                              Bytes(kImage5.begin(), kImage5.begin() + 16),
                              {0x71, 0x2A, 0x82, 0x1B, 0x93, 0x0C, 0xA4, 0x7D},
                              {0x35, 0x7E, 0x25, 0x04},
                              kDepth});
  EXPECT_EQ(Packet(s, 48), Expect(kEthHeader, 11, payload));
}

TEST_F(ConfigureFixture, UnknownModelSendsTheBareHeader) {
  CardSession s = Model(kCardUnknown);
  ASSERT_EQ(BuildConfigureCmd(s, io, in), 15);
  EXPECT_EQ(Packet(s, 16), Join({Expect(kEthHeader, 11, {}), {0}}));
}

TEST_F(ConfigureFixture, Pell5PutsDepthBeforeTheOutputPin) {
  CardSession s = Model(kCardPell5);
  ASSERT_EQ(BuildConfigureCmd(s, io, in), 52);
  const Bytes payload = Join({{0x1F},
                              kImage5,
                              {0x71, 0x2A, 0x82, 0x9B, 0x93, 0x0C, 0xC6, 0xDF, 0xA4, 0x7D},
                              {0x35, 0x7E, 0x0D},
                              kDepth,
                              {0x04, 0xFF, 0x32, 0x50, 0xEF, 0xBE}});
  EXPECT_EQ(Packet(s, 64), Join({Expect(kUsbHeader, 11, payload), Bytes(12, 0)}));
}

TEST_F(ConfigureFixture, Pell4PutsTheOutputPinBeforeDepthAndStartsAxesAt29) {
  CardSession s = Model(kCardPell4);
  ASSERT_EQ(BuildConfigureCmd(s, io, in), 50);
  const Bytes payload = Join({{0x1F},
                              Bytes(kImage5.begin(), kImage5.begin() + 16),
                              Bytes(4, 0),
                              {0x71, 0x2A, 0x82, 0x9B, 0x93, 0x0C, 0xC6, 0xDF},
                              {0x35, 0x7E, 0x0D, 0x04},
                              kDepth,
                              {0xFF, 0x32, 0x50, 0xEF, 0xBE}});
  EXPECT_EQ(Packet(s, 50), Expect(kUsbHeader, 11, payload));
}

TEST_F(ConfigureFixture, OutputPinByteOnBothFamilies) {
  struct Case {
    int32_t pin;
    uint8_t eth;
    uint8_t usb;
  };
  for (const Case& c :
       {Case{0, 0, 0}, Case{1, 1, 1}, Case{3, 4, 4}, Case{4, 8, 8}, Case{5, 0, 0x10},
        Case{8, 0, 0x80}, Case{9, 0, 0}, Case{-1, 0, 0}, Case{40, 0, 0}}) {
    in.outputPin = c.pin;
    CardSession e = Model(kCardLorn5);
    BuildConfigureCmd(e, io, in);
    EXPECT_EQ(e.txPacket[49], c.eth) << c.pin;
    CardSession u = Model(kCardPell5);
    BuildConfigureCmd(u, io, in);
    EXPECT_EQ(u.txPacket[46], c.usb) << c.pin;
  }
}

TEST_F(ConfigureFixture, OutOfRangeDepthSaturatesAndUnmappedChannelsGetNoPins) {
  in.zDeepth = 1000000;
  stepsPerUnit[2] = 1e6;
  axisMap[4] = 9;  // no such host axis
  CardSession s = Model(kCardLorn5);
  BuildConfigureCmd(s, io, in);
  EXPECT_EQ(Packet(s, 55)[50], 0xFF);
  EXPECT_EQ(Packet(s, 55)[53], 0x7F);
  EXPECT_EQ(s.txPacket[44], 0);
  EXPECT_EQ(s.txPacket[45], 0);
  in.zDeepth = -1000000;
  BuildConfigureCmd(s, io, in);
  EXPECT_EQ(Packet(s, 54), Join({Bytes(s.txPacket, s.txPacket + 50), {0, 0, 0, 0x80}}));
}

TEST(WireCodec, ChainedXorOfTheDiscoveryRequest) {
  CardSession s{};
  uint8_t d[5];
  ASSERT_EQ(BuildDiscoveryRequest(s, d), 5);
  EXPECT_EQ(Bytes(d, d + 5), (Bytes{0x55, 0xAA, 0x01, 0x00, 0x00}));
  ChainEncode(d, 5);
  EXPECT_EQ(Bytes(d, d + 5), (Bytes{0x55, 0xFF, 0xFE, 0xFE, 0xFE}));
  ChainDecode(d, 5);
  EXPECT_EQ(Bytes(d, d + 5), (Bytes{0x55, 0xAA, 0x01, 0x00, 0x00}));
}

TEST(WireCodec, RoundTripsAndAgreesWithAnIndependentCodec) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    const int length = static_cast<int>(random() % 1025);
    Bytes plain(static_cast<size_t>(length));
    for (uint8_t& b : plain) b = static_cast<uint8_t>(random());
    Bytes wire = plain;
    ChainEncode(wire.data(), length);
    ASSERT_EQ(wire, WireEncode(plain));
    ChainDecode(wire.data(), length);
    ASSERT_EQ(wire, plain);
  }
}

// A plain Ethernet status reply of a 5-axis card with every field distinct.
Bytes EthStatus(uint16_t sequence, int length = 92) {
  Bytes r(static_cast<size_t>(length), 0);
  const Bytes head = {0x55,
                      0xAA,
                      3,
                      static_cast<uint8_t>(sequence),
                      static_cast<uint8_t>(sequence >> 8),  // sequence
                      0x20,
                      0x34,
                      0x12,
                      0xFF,
                      0x99,
                      0x80,  // slots, time, state, -, status
                      0x00,
                      0x81,
                      0xFE,
                      0xFF,  // inputs, handwheel
                      0xD4,
                      0xC3,
                      0xB2,
                      0xA1};  // counter
  std::copy(head.begin(), head.end(), r.begin());
  for (int i = 0; i < 10; ++i) r[19 + 4 * i] = static_cast<uint8_t>(i + 1);
  r[19 + 4 * 4 + 3] = 0x80;  // position of channel 4 negative
  return r;
}

TEST(EthReplyParser, StatusReplyFillsEveryField) {
  CardSession s = Model(kCardLorn5);
  s.txSequence = 0x0102;
  const Bytes r = EthStatus(0x0102);
  ASSERT_EQ(ParseEthReply(s, r.data(), 92), kReplyAccepted);
  EXPECT_EQ(s.freeSlots, 0x20);
  EXPECT_EQ(s.cardTime, 0x1234);
  EXPECT_EQ(s.cardState, -1);
  EXPECT_EQ(s.statusBits, 0x80);
  EXPECT_EQ(s.inputBits, 0x8100);
  EXPECT_EQ(s.mpgDelta, -2);
  EXPECT_EQ(s.cardCounter, 0xA1B2C3D4u);
  EXPECT_EQ(s.axisPosition[0], 1);
  EXPECT_EQ(s.axisPosition[4], static_cast<int32_t>(0x80000005u));
  EXPECT_EQ(s.probePosition[0], 6);
  EXPECT_EQ(s.probePosition[4], 10);
}

TEST(EthReplyParser, AcknowledgeTakesOnlyFreeSlots) {
  CardSession s = Model(kCardLorn5);
  s.txSequence = 7;
  s.cardTime = 99;
  Bytes r = EthStatus(7);
  r[2] = 4;
  ASSERT_EQ(ParseEthReply(s, r.data(), 6), kReplyAccepted);
  EXPECT_EQ(s.freeSlots, 0x20);
  EXPECT_EQ(s.cardTime, 99);
  EXPECT_EQ(s.cardState, 0);
  EXPECT_EQ(s.axisPosition[0], 0);
}

TEST(EthReplyParser, RejectedRepliesChangeNothing) {
  struct Case {
    const char* what;
    int offset;
    uint8_t value;
    int length;
    int result;
  };
  const Case cases[] = {{"marker", 1, 0xAB, 92, kReplyBadMarker},
                        {"kind", 2, 2, 92, kReplyBadKind},
                        {"sequence", 3, 0x03, 92, kReplyForeignSequence},
                        {"short status", 0, 0x55, 58, kReplyTooShort},
                        {"short header", 0, 0x55, 5, kReplyTooShort}};
  for (const Case& c : cases) {
    CardSession s = Model(kCardLorn5);
    s.txSequence = 0x0102;
    s.freeSlots = 9;
    Bytes r = EthStatus(0x0102);
    r[static_cast<size_t>(c.offset)] = c.value;
    EXPECT_EQ(ParseEthReply(s, r.data(), c.length), c.result) << c.what;
    EXPECT_EQ(s.freeSlots, 9) << c.what;
    EXPECT_EQ(s.cardTime, 0) << c.what;
  }
  CardSession four = Model(kCardLorn4);
  four.txSequence = 1;
  EXPECT_EQ(ParseEthReply(four, EthStatus(1, 84).data(), 51), kReplyAccepted)
      << "a 4-axis reply needs only four positions of each kind";
}

// A plain USB status reply with every field distinct.
Bytes UsbStatus(uint8_t sequence) {
  Bytes r(64, 0);
  const Bytes head = {1,    3,    sequence, 0x21, 0x34, 0x12, 0xFF, 0x99, 0x80,
                      0x00, 0x81, 0xFE,     0xFF, 0xD4, 0xC3, 0xB2, 0xA1};
  std::copy(head.begin(), head.end(), r.begin());
  for (int i = 0; i < 5; ++i) r[17 + 4 * i] = static_cast<uint8_t>(i + 1);
  r[37] = 0x77;  // beyond the positions: no probe positions on USB
  return r;
}

TEST(UsbReplyParser, StatusReplyFillsEveryFieldButProbePositions) {
  CardSession s = Model(kCardPell5);
  s.txSequence = 0x33;
  const Bytes r = UsbStatus(0x33);
  ASSERT_EQ(ParseUsbReply(s, r.data()), kReplyAccepted);
  EXPECT_EQ(s.freeSlots, 0x21);
  EXPECT_EQ(s.cardTime, 0x1234);
  EXPECT_EQ(s.cardState, 255) << "the USB card's state byte is unsigned";
  EXPECT_EQ(s.statusBits, 0x80);
  EXPECT_EQ(s.inputBits, 0x8100);
  EXPECT_EQ(s.mpgDelta, -2);
  EXPECT_EQ(s.cardCounter, 0xA1B2C3D4u);
  EXPECT_EQ(s.axisPosition[0], 1);
  EXPECT_EQ(s.axisPosition[4], 5);
  for (int32_t p : s.probePosition) EXPECT_EQ(p, 0);
}

TEST(UsbReplyParser, AcknowledgeAndRejections) {
  CardSession s = Model(kCardPell5);
  s.txSequence = 0x33;
  Bytes r = UsbStatus(0x33);
  r[1] = 4;
  ASSERT_EQ(ParseUsbReply(s, r.data()), kReplyAccepted);
  EXPECT_EQ(s.freeSlots, 0x21);
  EXPECT_EQ(s.cardTime, 0);
  struct Case {
    int offset;
    uint8_t value;
    int result;
  };
  for (const Case& c : {Case{0, 2, kReplyBadMarker}, Case{1, 5, kReplyBadKind},
                        Case{2, 0x32, kReplyForeignSequence}}) {
    CardSession t = Model(kCardPell5);
    t.txSequence = 0x33;
    Bytes bad = UsbStatus(0x33);
    bad[static_cast<size_t>(c.offset)] = c.value;
    EXPECT_EQ(ParseUsbReply(t, bad.data()), c.result) << c.offset;
    EXPECT_EQ(t.freeSlots, 0);
  }
}

TEST(DiscoveryAndConnect, DiscoveryReplyNamesTheCard) {
  CardSession s = Model(kCardUnknown);
  Bytes r(16, 0);
  r[0] = 0x55;
  r[1] = 0xAA;
  r[3] = 0x34;
  r[4] = 0x12;
  const Bytes mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xE5};
  std::copy(mac.begin(), mac.end(), r.begin() + 8);
  r[14] = 0x01;
  r[15] = 0x2A;
  EXPECT_TRUE(IsDiscoveryReply(s, r.data(), 16));
  EXPECT_FALSE(IsDiscoveryReply(s, r.data(), 15));
  s.ethSequence = 0x1235;
  EXPECT_FALSE(IsDiscoveryReply(s, r.data(), 16));
  TakeEthCardIdentity(s, r.data());
  EXPECT_STREQ(s.serialText, "001A2B3C4DE5");
  EXPECT_STREQ(s.deviceName, "TorvexanEth V01.2A");
}

TEST(DiscoveryAndConnect, UsbConnectRequestAndReply) {
  uint8_t packet[64];
  std::memset(packet, 0x5A, sizeof packet);
  BuildUsbConnectRequest(packet, 0xFF);
  EXPECT_EQ(Bytes(packet, packet + 4), (Bytes{2, 1, 0xFF, 0x5A}));
  CardSession s = Model(kCardPell5);
  s.usbSequence = 0xFF;
  Bytes r(64, 0);
  r[0] = 1;
  r[1] = 3;
  r[2] = 0xFF;
  r[3] = 190;
  r[4] = 0x34;
  r[5] = 0x12;
  EXPECT_TRUE(ParseUsbConnectReply(s, r.data()));
  EXPECT_EQ(s.freeSlots, 190);
  EXPECT_EQ(s.cardTime, 0x1234);
  r[2] = 0xFE;
  EXPECT_FALSE(ParseUsbConnectReply(s, r.data()));
  r[2] = 0xFF;
  r[1] = 4;
  EXPECT_FALSE(ParseUsbConnectReply(s, r.data()));
}

}  // namespace
}  // namespace torvexan::testing
