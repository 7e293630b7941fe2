// The card's I/O configuration as taken from the host's signal tables.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "signals/io_config.h"
#include "support/host_world.h"

namespace torvexan::testing {
namespace {

class IoConfigBuild : public ::testing::Test {
 protected:
  void Input(int entry, uint8_t pin, uint8_t activeLow, uint8_t port = kCardPort,
             uint8_t enabled = 1) {
    m.InputSignals[entry] = InputSignal{enabled, pin, port, activeLow, 0};
  }
  IoConfig Build() {
    IoConfig io;
    std::memset(&io, 0xA5, sizeof io);  // whatever the caller's record held before
    BuildIoConfig(m, io);
    return io;
  }
  HostWorld world;
  HostMachine& m = *world.machine;
};

TEST_F(IoConfigBuild, TakesEnabledCardPinsOfEveryAxisProbeAuxAndSpindle) {
  Input(FirstLimitInput(0), 1, 0);
  Input(SecondLimitInput(0), 2, 1);
  Input(HomeInput(0), 3, 1);
  Input(FirstLimitInput(5), 16, 1);
  Input(HomeInput(3), 7, 0);
  Input(kProbeInput, 9, 1);
  Input(kAuxInput, 12, 0);
  m.Axes[1].DirActiveLow = 1;
  m.Axes[4].StepActiveLow = 1;
  m.Axes[kSpindleAxis] = AxisRecord{};
  m.Axes[kSpindleAxis].Enabled = 1;
  m.Axes[kSpindleAxis].StepPort = kCardPort;
  m.Axes[kSpindleAxis].StepPin = 4;
  m.Axes[kSpindleAxis].StepActiveLow = 1;

  const IoConfig io = Build();
  EXPECT_EQ(io.firstLimitPin[0], 1);
  EXPECT_EQ(io.firstLimitLowActive[0], 0);
  EXPECT_EQ(io.secondLimitPin[0], 2);
  EXPECT_EQ(io.secondLimitLowActive[0], 1);
  EXPECT_EQ(io.homePin[0], 3);
  EXPECT_EQ(io.homeLowActive[0], 1);
  EXPECT_EQ(io.firstLimitPin[5], 16);
  EXPECT_EQ(io.firstLimitLowActive[5], 1);
  EXPECT_EQ(io.homePin[3], 7);
  EXPECT_EQ(io.firstLimitPin[3], 0);
  EXPECT_EQ(io.probePin, 9);
  EXPECT_EQ(io.probeLowActive, 1);
  EXPECT_EQ(io.auxPin, 12);
  EXPECT_EQ(io.auxLowActive, 0);
  EXPECT_EQ(io.directionLowActive[1], 1);
  EXPECT_EQ(io.directionLowActive[0], 0);
  EXPECT_EQ(io.stepLowActive[4], 1);
  EXPECT_EQ(io.stepLowActive[1], 0);
  EXPECT_EQ(io.spindleStepPin, 4);
  EXPECT_EQ(io.spindleStepLowActive, 1);
  EXPECT_EQ(io.timingWord, kDefaultTimingWord);
}

TEST_F(IoConfigBuild, LeavesOutDisabledForeignAndNegativePinsButAlwaysTakesOutputPolarity) {
  Input(FirstLimitInput(1), 5, 1, /*port=*/2);
  Input(SecondLimitInput(1), 6, 1, kCardPort, /*enabled=*/0);
  Input(HomeInput(1), 200, 1);  // -56 as a signed byte: no pin
  Input(kProbeInput, 0, 1);
  Input(kAuxInput, 128, 1);
  m.Axes[1].DirActiveLow = 1;
  m.Axes[1].StepActiveLow = 1;
  m.Axes[kSpindleAxis].Enabled = 1;
  m.Axes[kSpindleAxis].StepPort = kCardPort;
  m.Axes[kSpindleAxis].StepPin = 200;
  m.Axes[kSpindleAxis].StepActiveLow = 1;

  IoConfig expected;
  std::memset(&expected, 0, sizeof expected);
  expected.directionLowActive[1] = 1;
  expected.stepLowActive[1] = 1;
  expected.timingWord = kDefaultTimingWord;
  const IoConfig io = Build();
  EXPECT_EQ(std::memcmp(&io, &expected, sizeof io), 0);

  m.Axes[kSpindleAxis].StepPin = 2;
  m.Axes[kSpindleAxis].Enabled = 0;
  EXPECT_EQ(Build().spindleStepPin, 0) << "a disabled spindle has no step pin";
}

TEST_F(IoConfigBuild, TimingWordIsTheTruncatedQuotientKeptTo16Bits) {
  struct Case {
    int32_t dividend, divisor;
    uint16_t word;
  };
  const Case cases[] = {
      {1000, 0, 5},        // no divisor
      {1000, 3, 333},      // truncated
      {-10, 3, 0xFFFD},    // toward zero: -3
      {100000, 1, 34464},  // 100000 mod 65536
      {INT_MIN, -1, 0},    // 2^31 does not fit 32 bits; its low 16 bits are 0
      {INT_MIN, 1, 0},     // -2^31 mod 65536
      {INT_MIN + 1, -1, 0xFFFF},
  };
  for (const Case& c : cases) {
    m.IoTimingDividend = c.dividend;
    m.IoTimingDivisor = c.divisor;
    EXPECT_EQ(Build().timingWord, c.word) << c.dividend << " / " << c.divisor;
  }
}

}  // namespace
}  // namespace torvexan::testing
