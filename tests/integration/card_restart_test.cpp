// A card that restarts while the spindle turns and the coolant relay is on, seen from the card:
// it powers up dark, and from the moment the plug-in can tell, the plug-in switches nothing on
// again and sends no rows until the operator's reset, even while the host still has the spindle
// and the relay on; after the reset the relay follows the host again and the spindle turns only
// when the host asks. The card's trace shows neither from the restart to the reset.
#include <gtest/gtest.h>

#include <vector>

#include "integration/job_feeder.h"
#include "integration/machine_fixture.h"
#include "signals/io_config.h"

namespace torvexan::testing {
namespace {

constexpr int kSpindleOnClockwise = 3;
constexpr int kOutputPin = 2;  // the coolant relay on the card's second output
constexpr uint8_t kRelayBit = 1u << (kOutputPin - 1);
constexpr uint32_t kBootMs = 300;
constexpr int kJobTicks = 20000;

// What the card did in each of its 5 ms periods.
class OutputTrace final : public sim::PeriodObserver {
 public:
  void OnPeriod(const sim::VirtualCard& card) override {
    lit.push_back(card.spindle() != 0 || card.outputs() != 0);
  }
  std::vector<bool> lit;
};

struct ExecutedCommand {
  sim::ReceivedCommand command;
  int tick;
};

class CardRestart : public ::testing::TestWithParam<CardCase> {
 protected:
  CardRestart() : machine(GetParam().model) {}

  void SetUp() override {
    OutputSignal& relay = host().machine->OutputSignals[0];
    relay = OutputSignal{1, kOutputPin, kCardPort, 1, 0};
    host().control->SpindlePwm = 1;
    host().control->SpindleFraction = 0.5;
    machine.ConnectAndReset();
    machine.plugin().Notify(kSpindleOnClockwise);
    card().SetPeriodObserver(&trace);
  }
  void TearDown() override { card().SetPeriodObserver(nullptr); }

  HostWorld& host() { return machine.host(); }
  sim::VirtualCard& card() { return machine.card(); }

  // One tick; the commands the card executed in it are kept with the tick's number.
  void Tick() {
    const uint32_t before = card().stats().commands;
    machine.Tick();
    ++ticks;
    const uint32_t fresh = card().stats().commands - before;
    for (uint32_t i = fresh; i > 0; --i) executed.push_back({card().History(int(i) - 1), ticks});
  }

  // Streams a long job with the spindle and the relay on until the card has run two seconds.
  void CutWithSpindleAndCoolant() {
    job = std::make_unique<JobFeeder>(host(), GetParam().axes, 60 * kSlicesPerSecond);
    ASSERT_TRUE(machine.RunUntil(
        [&] {
          job->Fill();
          return card().stats().rowsExecuted >= 2 * kSlicesPerSecond;
        },
        kJobTicks));
    ASSERT_NE(card().spindle(), 0);
    ASSERT_EQ(card().outputs() & kRelayBit, kRelayBit);
  }

  // The host stops its job on the emergency stop but leaves its spindle and relay on: the
  // plug-in alone keeps the card dark. Runs one second past the emergency stop.
  void RunUntilWellAfterTheEmergencyStop() {
    int estopTick = -1;
    for (int i = 0; i < 500 && (estopTick < 0 || ticks < estopTick + 50); ++i) {
      if (host().machine->EStop) {
        job->Abandon();
        if (estopTick < 0) estopTick = ticks;
      } else {
        job->Fill();
      }
      Tick();
    }
    ASSERT_EQ(host().machine->EStop, 1);
    estopAt = estopTick;
  }

  // Periods in [from, to) in which the card drove the spindle or an output.
  int PeriodsLit(size_t from, size_t to) const {
    int n = 0;
    for (size_t i = from; i < to && i < trace.lit.size(); ++i) n += trace.lit[i];
    return n;
  }

  // After the operator's reset the relay follows the host again, which still has it on; the
  // spindle stays off until the host turns it on.
  void ResetAndExpectOnlyWhatTheHostAsks(size_t restartPeriod) {
    EXPECT_EQ(PeriodsLit(restartPeriod, trace.lit.size()), 0)
        << "the card drove the spindle or the relay between its restart and the reset";
    ASSERT_TRUE(machine.ResetFromEmergencyStop());
    machine.RunTicks(5);
    EXPECT_EQ(card().spindle(), 0) << "the spindle came back without the host";
    EXPECT_EQ(card().outputs() & kRelayBit, kRelayBit) << "the relay the host has on stays off";
    machine.plugin().Notify(kSpindleOnClockwise);
    machine.RunTicks(3);
    EXPECT_NE(card().spindle(), 0) << "the host's spindle did not come back";
  }

  SimulatedMachine machine;
  OutputTrace trace;
  std::unique_ptr<JobFeeder> job;
  std::vector<ExecutedCommand> executed;
  int ticks = 0;
  int estopAt = -1;  // the tick that raised the emergency stop
};

TEST_P(CardRestart, SwitchesNothingOnAndSendsNoRowsUntilTheReset) {
  CutWithSpindleAndCoolant();
  const size_t restartPeriod = trace.lit.size();
  const uint32_t rowsReceived = card().stats().rowsReceived;
  card().Reboot(kBootMs);
  const uint32_t rowsExecuted = card().stats().rowsExecuted;
  RunUntilWellAfterTheEmergencyStop();

  ASSERT_FALSE(executed.empty()) << "the card never answered again";
  // The first command the restarted card ran is the packet pending at the restart (Ethernet),
  // or already one built after the USB handshake showed the halted card. Every later one asks
  // for nothing and carries no rows.
  if (GetParam().model != sim::CardModel::kPell5) {
    EXPECT_NE(executed[0].command.spindle, 0)
        << "the packet in flight at the restart, built before it, asks for the spindle: only "
           "the card itself can keep it off";
  }
  for (size_t i = 1; i < executed.size(); ++i) {
    const sim::ReceivedCommand& c = executed[i].command;
    EXPECT_EQ(c.spindle, 0) << "command " << i << " of tick " << executed[i].tick;
    EXPECT_EQ(c.outputs, 0) << "command " << i << " of tick " << executed[i].tick;
    EXPECT_EQ(c.rowCount, 0) << "command " << i << " of tick " << executed[i].tick;
  }
  EXPECT_LE(card().stats().rowsReceived - rowsReceived, uint32_t{executed[0].command.rowCount});
  EXPECT_EQ(card().stats().rowsExecuted, rowsExecuted) << "rows ran after the restart";
  EXPECT_EQ(card().state(), sim::kHalted);
  EXPECT_EQ(card().spindle(), 0);
  EXPECT_EQ(card().outputs(), 0);
  // The host learns of it from the card's first answer, confirmed once.
  EXPECT_LE(estopAt - executed[0].tick, 2) << "ticks from the card's first answer to EStop";
  EXPECT_EQ(machine.state().session->spindleValue, 0);

  ResetAndExpectOnlyWhatTheHostAsks(restartPeriod);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, CardRestart,
                         ::testing::Values(kLorn4Case, kLorn5Case, kPell5Case), CardCaseName);

// Plugging the USB card out and in again restarts it: the handshake already shows it halted,
// so not one command it receives switches anything on.
class UsbReplug : public CardRestart {};

TEST_P(UsbReplug, KeepsTheCardDarkFromTheHandshakeOn) {
  CutWithSpindleAndCoolant();
  const size_t restartPeriod = trace.lit.size();
  machine.usbCard()->plugged = false;
  card().Reboot(0);
  for (int i = 0; i < 20; ++i) Tick();
  machine.usbCard()->plugged = true;
  RunUntilWellAfterTheEmergencyStop();

  ASSERT_FALSE(executed.empty()) << "the card never answered again";
  for (size_t i = 0; i < executed.size(); ++i) {
    EXPECT_EQ(executed[i].command.spindle, 0) << "command " << i;
    EXPECT_EQ(executed[i].command.outputs, 0) << "command " << i;
    EXPECT_EQ(executed[i].command.rowCount, 0) << "command " << i;
  }
  ResetAndExpectOnlyWhatTheHostAsks(restartPeriod);
}

INSTANTIATE_TEST_SUITE_P(Pell5, UsbReplug, ::testing::Values(kPell5Case), CardCaseName);

}  // namespace
}  // namespace torvexan::testing
