// The card session's defaults, start, model constants and stop.
#include <gtest/gtest.h>

#include <cstring>

#include "link/card_session.h"
#include "support/fake_platform.h"

namespace torvexan::testing {
namespace {

class CardSessionTest : public ::testing::Test {
 protected:
  FakePlatform fake;
  CardSession s{};
};

TEST_F(CardSessionTest, FreshSessionHasTheDefaults) {
  StartCardSession(s, fake.platform());
  EXPECT_EQ(s.axisCount, 5);
  EXPECT_EQ(s.cardType, 0u);
  EXPECT_EQ(s.maxSegments, 1);
  EXPECT_EQ(s.minSegments, 1);
  EXPECT_EQ(s.socket, kInvalidSocket);
  EXPECT_EQ(s.usbHandle, nullptr);
  EXPECT_EQ(s.estopMask, 0u);
  EXPECT_EQ(s.mpgAnyAxisMask, 0u);
  for (uint32_t m : s.mpgAxisMask) EXPECT_EQ(m, 0u);
  EXPECT_STREQ(s.serialText, "000000000000000000");
  EXPECT_STREQ(s.deviceName, "Torvexan Controller");
  for (const AxisProfile& p : s.axisJog) {
    EXPECT_EQ(p.stepsPerUnit, 1.0);
    EXPECT_EQ(p.direction, 1);
    EXPECT_EQ(p.stepCount, 0);
  }
  EXPECT_EQ(fake.net.startupCalls, 1);
}

TEST_F(CardSessionTest, StoppingANeverConnectedSessionClosesNothingButCleansUp) {
  StartCardSession(s, fake.platform());
  StopCardSession(s);
  EXPECT_EQ(fake.net.closeCalls, 0);
  EXPECT_EQ(fake.net.cleanupCalls, 1);
}

TEST_F(CardSessionTest, AnotherSocketVersionIsGivenBackAtOnce) {
  fake.net.grantVersion = 0x0202;
  StartCardSession(s, fake.platform());
  EXPECT_EQ(fake.net.cleanupCalls, 1);
  StopCardSession(s);
  EXPECT_EQ(fake.net.cleanupCalls, 1) << "the library must not be cleaned up twice";
}

TEST_F(CardSessionTest, ModelConstantsReplaceWhateverWasThere) {
  StartCardSession(s, fake.platform());
  ApplyCardModel(s, kCardLorn4);
  EXPECT_EQ(s.axisCount, 4);
  EXPECT_EQ(s.estopMask, 0u);
  EXPECT_EQ(s.mpgX10Mask, 0x1000u);
  EXPECT_EQ(s.mpgAnyAxisMask, 0xF00u);
  ApplyCardModel(s, kCardPell5);
  EXPECT_EQ(s.cardType, 4u);
  EXPECT_EQ(s.axisCount, 5);
  EXPECT_EQ(s.maxSegments, 5);
  EXPECT_EQ(s.minSegments, 5);
  EXPECT_EQ(s.mpgAxisMask[4], 0x1000u);
  EXPECT_EQ(s.mpgAxisMask[5], 0u);
  EXPECT_EQ(s.estopMask, 0x8000u);
  EXPECT_EQ(s.spareMask2, 0x20000u);
  EXPECT_EQ(s.mpgAnyAxisMask, 0x1F00u);
  ApplyCardModel(s, kCardLorn5);
  EXPECT_EQ(s.maxSegments, 50);
  EXPECT_EQ(s.minSegments, 30);
  EXPECT_STREQ(CardModelOf(kCardLorn5).connectedText, "Lorn5 Connected");
  EXPECT_STREQ(CardModelOf(9).connectedText, "? Connected");
}

}  // namespace
}  // namespace torvexan::testing
