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

// Rows the card runs between two packets of a jog at 20 ms ticks: an Ethernet reply is read
// on the tick after its send, a USB exchange completes within its tick.
int RowsPerExchange(sim::CardModel model) {
  return model == sim::CardModel::kPell5 ? 4 : 8;
}
// Periods of the deceleration that the S-curve leaves within a step of full speed.
constexpr int kDecelerationOnsetRows = 4;
constexpr int32_t kCruiseStepsPerRow = 100;  // kJogSpeed at 1000 steps per unit

struct JogCase {
  CardCase card;
  uint32_t jogBufSize;
  friend void PrintTo(const JogCase& c, std::ostream* os) {
    *os << c.card.name << " with JogBufSize " << c.jogBufSize;
  }
};

class JogBuffer : public ::testing::TestWithParam<JogCase> {};

TEST_P(JogBuffer, JogsWithoutUnderrunAndStopsBehindTheBufferAndOneExchange) {
  const JogCase c = GetParam();
  const int bound =
      static_cast<int>(c.jogBufSize) + RowsPerExchange(c.card.model) + kDecelerationOnsetRows;
  // JogOff at every phase of the exchanges and of the 20 ms ticks against the 5 ms rows.
  for (int cruiseTicks = kJogCruiseTicks; cruiseTicks < kJogCruiseTicks + 4; ++cruiseTicks) {
    SCOPED_TRACE(cruiseTicks);
    SimulatedMachine machine(c.card.model);
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

INSTANTIATE_TEST_SUITE_P(
    SmallAndDefaultBuffers, JogBuffer,
    ::testing::Values(JogCase{kLorn4Case, 5}, JogCase{kLorn5Case, 5}, JogCase{kPell5Case, 5},
                      JogCase{kLorn4Case, 8}, JogCase{kLorn5Case, 8}, JogCase{kPell5Case, 8},
                      JogCase{kLorn5Case, 20}, JogCase{kPell5Case, 20}, JogCase{kLorn5Case, 50},
                      JogCase{kPell5Case, 50}, JogCase{kLorn5Case, 199}),
    [](const ::testing::TestParamInfo<JogCase>& info) {
      return std::string(info.param.card.name) + "_" + std::to_string(info.param.jogBufSize);
    });

}  // namespace
}  // namespace torvexan::testing
