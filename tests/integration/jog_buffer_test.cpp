// Jogs with every size of jog buffer the settings accept, on every card model: the card must
// never run dry while the jog runs, and a JogOff must take effect behind no more than the
// buffer and the rows of one exchange.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "integration/jog_run.h"
#include "integration/machine_fixture.h"

namespace torvexan::testing {
namespace {

// Rows the card runs between two packets of a jog: an Ethernet reply is read on the tick after
// its send, a USB exchange completes within its tick.
int RowsPerExchange(sim::CardModel model, uint32_t tickUs) {
  const uint32_t ticks = model == sim::CardModel::kPell5 ? 1 : 2;
  return static_cast<int>((ticks * tickUs + 4999) / 5000);
}
// Periods of the deceleration that the S-curve leaves within a step of full speed.
constexpr int kDecelerationOnsetRows = 4;
constexpr int32_t kCruiseStepsPerRow = 100;  // kJogSpeed at 1000 steps per unit

struct JogCase {
  CardCase card;
  uint32_t jogBufSize;
  uint32_t tickUs = 20000;
  friend void PrintTo(const JogCase& c, std::ostream* os) {
    *os << c.card.name << " with JogBufSize " << c.jogBufSize << " at " << c.tickUs << " us";
  }
};

class JogBuffer : public ::testing::TestWithParam<JogCase> {};

TEST_P(JogBuffer, JogsWithoutUnderrunAndStopsBehindTheBufferAndOneExchange) {
  const JogCase c = GetParam();
  const int bound = static_cast<int>(c.jogBufSize) + RowsPerExchange(c.card.model, c.tickUs) +
                    kDecelerationOnsetRows;
  // JogOff at every phase of the exchanges and of the 20 ms ticks against the 5 ms rows.
  for (int cruiseTicks = kJogCruiseTicks; cruiseTicks < kJogCruiseTicks + 4; ++cruiseTicks) {
    SCOPED_TRACE(cruiseTicks);
    SimulatedMachine machine(c.card.model);
    machine.SetTickPeriodUs(c.tickUs);
    machine.ConnectAndReset();
    const JogStop stop = JogAndStop(machine, c.jogBufSize, cruiseTicks);

    ASSERT_TRUE(stop.ended) << "the jog never ended";
    EXPECT_EQ(stop.underruns, 0u);
    EXPECT_EQ(stop.cruiseStepsPerRow, kCruiseStepsPerRow) << "the jog never reached its speed";
    EXPECT_LE(stop.rowsBeforeDeceleration, bound);
    EXPECT_GT(stop.stepsAfterJogOff, 0);
    EXPECT_EQ(machine.card().stats().rowsRefused, 0u);
    EXPECT_EQ(machine.host().machine->EStop, 0);
  }
}

// The host's window timer may fire every 31.25 ms instead of 20 ms (a 64 Hz timer granularity).
INSTANTIATE_TEST_SUITE_P(
    SmallAndDefaultBuffers, JogBuffer,
    ::testing::Values(JogCase{kLorn4Case, 5}, JogCase{kLorn5Case, 5}, JogCase{kPell5Case, 5},
                      JogCase{kLorn4Case, 8}, JogCase{kLorn5Case, 8}, JogCase{kPell5Case, 8},
                      JogCase{kLorn5Case, 20}, JogCase{kPell5Case, 20}, JogCase{kLorn5Case, 50},
                      JogCase{kPell5Case, 50}, JogCase{kLorn5Case, 199},
                      JogCase{kLorn4Case, 5, 31250}, JogCase{kLorn5Case, 8, 31250},
                      JogCase{kPell5Case, 5, 31250}, JogCase{kPell5Case, 8, 31250},
                      JogCase{kPell5Case, 50, 31250}),
    [](const ::testing::TestParamInfo<JogCase>& info) {
      return std::string(info.param.card.name) + "_" + std::to_string(info.param.jogBufSize) + "_" +
             std::to_string(info.param.tickUs) + "us";
    });

}  // namespace
}  // namespace torvexan::testing
