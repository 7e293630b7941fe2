// Motion cut short: whatever runs (a job, a dwell, a jog, a handwheel jog, homing, probing) and
// whatever cuts it (the card's emergency-stop input, the host's reset, a lost link, a card that
// restarts), nothing moves afterwards until the host commands motion again, and the host's
// records say what happened.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "integration/machine_operator.h"

namespace torvexan::testing {
namespace {

enum class Activity { kStreaming, kDwell, kJog, kHandwheelJog, kHoming, kProbing };
enum class Cut { kEStopInput, kHostReset, kLinkLoss, kCardReboot };

constexpr int32_t kStopCodeEStop = 6;
constexpr int32_t kWheelCountsPerTick = 20;
constexpr int kQuietTicks = 150;  // 3 s in which nothing may move
constexpr const char* kLinkLostText = "(Card link lost! Motion stopped, Estop.)";
constexpr const char* kNotConnectedText = "(\xC9\xE8\xB1\xB8\xCE\xB4\xC1\xAC\xBD\xD3)";

const char* ActivityName(Activity a) {
  constexpr const char* kNames[] = {"Streaming",    "Dwell",  "Jog",
                                    "HandwheelJog", "Homing", "Probing"};
  return kNames[static_cast<int>(a)];
}

const char* CutName(Cut c) {
  constexpr const char* kNames[] = {"EStopInput", "HostReset", "LinkLoss", "CardReboot"};
  return kNames[static_cast<int>(c)];
}

void PrintTo(Activity a, std::ostream* os) {
  *os << ActivityName(a);
}
void PrintTo(Cut c, std::ostream* os) {
  *os << CutName(c);
}

// The machine with one activity under way, and the checks every cut must pass.
class CutMachine {
 public:
  explicit CutMachine(const CardCase& card) : op(card) {
    op.card().machine().SetHome(0, -1000000);  // far away: homing is still approaching
  }

  void Start(Activity a) {
    sim::VirtualCard& card = op.card();
    PluginState& s = op.state();
    switch (a) {
      case Activity::kStreaming:
        op.StartJob(60 * kSlicesPerSecond);
        ASSERT_TRUE(op.RunUntil(
            [&] { return card.stats().rowsExecuted >= 200 && card.state() == sim::kStreaming; },
            2000));
        break;
      case Activity::kDwell:
        op.plugin().DoDwell(60.0);
        op.RunTicks(10);
        ASSERT_EQ(s.motion.MotionMode, kDwellWait);
        break;
      case Activity::kJog:
        op.plugin().JogOn(0, 0, kAxisSpeed);
        ASSERT_TRUE(op.RunUntil([&] { return card.position(0) > 2000; }, 300));
        break;
      case Activity::kHandwheelJog:
        card.machine().handwheelAxis = 0;
        ASSERT_TRUE(op.RunUntil([&] { return op.host().control->JogMode == 2; }, 20));
        op.plugin().JogOn(0, 0, 0.0);
        ASSERT_EQ(s.motion.MotionMode, kHandwheelJog);
        op.wheelCountsPerTick = kWheelCountsPerTick;
        ASSERT_TRUE(op.RunUntil([&] { return card.position(0) > 200; }, 100));
        break;
      case Activity::kHoming:
        op.plugin().Home(0);
        ASSERT_TRUE(op.RunUntil([&] { return card.position(0) < -2000; }, 300));
        break;
      case Activity::kProbing:
        op.host().control->ProbeTarget[2] = -50.0;
        op.plugin().Probe();
        ASSERT_TRUE(op.RunUntil([&] { return card.position(2) < -1000; }, 300));
        break;
    }
  }

  void Apply(Cut c) {
    HostMachine& m = *op.host().machine;
    switch (c) {
      case Cut::kEStopInput:
        op.card().machine().estop = true;
        ASSERT_TRUE(op.RunUntil([&] { return m.EStop == 1; }, 3));
        op.RunTicks(20);
        op.card().machine().estop = false;  // the operator releases the button
        break;
      case Cut::kHostReset:
        // The operator presses the host's emergency stop.
        m.EStop = 1;
        op.plugin().Reset();
        break;
      case Cut::kLinkLoss:
        op.Unplug(true);
        ASSERT_TRUE(op.RunUntil([&] { return !op.online(); }, 400));
        op.RunTicks(50);
        op.Unplug(false);
        ASSERT_TRUE(op.RunUntil([&] { return op.online(); }, 600)) << "the link never came back";
        break;
      case Cut::kCardReboot:
        op.card().Reboot(300);
        break;
    }
    ASSERT_TRUE(op.RunUntil(
        [&] {
          return op.online() && op.card().state() == sim::kHalted && m.EStop == 1 &&
                 op.state().requests.RequestFlags == 0;
        },
        300))
        << "the card was never halted";
    op.RunTicks(10);
  }

  void ExpectNothingMoves() {
    sim::VirtualCard& card = op.card();
    int32_t at[sim::kMaxAxes] = {};
    for (int i = 0; i < op.axes; ++i) at[i] = card.position(i);
    const uint32_t executed = card.stats().rowsExecuted;
    op.RunTicks(kQuietTicks);
    for (int i = 0; i < op.axes; ++i) {
      EXPECT_EQ(card.position(i), at[i]) << "card channel " << i;
      EXPECT_EQ(op.host().machine->Axes[i].PositionCounts, at[i]) << "host axis " << i;
    }
    EXPECT_EQ(card.stats().rowsExecuted, executed);
  }

  // After the operator's reset the machine moves again, and only then.
  void ExpectItMovesWhenCommanded() {
    op.wheelCountsPerTick = 0;
    op.card().machine().handwheelAxis = -1;
    op.RunTicks(3);
    ASSERT_TRUE(op.machine.ResetFromEmergencyStop());
    const int32_t from = op.card().position(1);
    op.plugin().JogOn(1, 0, kAxisSpeed);
    op.RunTicks(25);
    EXPECT_GT(op.card().position(1), from + 1000);
    op.plugin().JogOff(1);
    EXPECT_TRUE(op.RunUntil([&] { return op.state().motion.MotionMode == kQueueStreaming; }, 200));
  }

  MachineOperator op;
};

class MotionCut : public ::testing::TestWithParam<std::tuple<CardCase, Activity, Cut>> {
 protected:
  MotionCut() : machine(std::get<0>(GetParam())) {}
  CutMachine machine;
};

TEST_P(MotionCut, NothingMovesUntilCommandedAndTheHostKnowsWhy) {
  const auto [card, activity, cut] = GetParam();
  MachineOperator& op = machine.op;
  op.machine.ConnectAndReset();
  HostCallbacks::Codes().clear();
  ASSERT_NO_FATAL_FAILURE(machine.Start(activity));
  const uint64_t linkLossesBefore = op.state().session->counters.linkLosses;
  ASSERT_NO_FATAL_FAILURE(machine.Apply(cut));

  const HostMachine& m = *op.host().machine;
  EXPECT_EQ(m.EStop, 1);
  if (cut != Cut::kHostReset) {
    EXPECT_EQ(m.StopCode, kStopCodeEStop);
  }
  // A dwell is the host's own wait: a restarted card does not end it, the host's reset does.
  if (!(activity == Activity::kDwell && cut == Cut::kCardReboot)) {
    EXPECT_EQ(op.state().motion.MotionMode, kQueueStreaming);
    EXPECT_EQ(op.host().control->MotionIdle, 1);
    EXPECT_EQ(m.Dwelling, 0);
  }
  EXPECT_EQ(m.Jogging, 0);
  EXPECT_EQ(m.Homing, 0);
  EXPECT_EQ(m.AxisHomed[0], 0) << "homed without reaching the switch";
  for (int a = 0; a < op.axes; ++a) {
    EXPECT_EQ(m.Axes[a].ProbeCounts, kProbeSentinel) << "a probe position nobody touched";
    EXPECT_EQ(m.Axes[a].ProbeFlag, 1);
  }
  if (activity != Activity::kStreaming && activity != Activity::kDwell) {
    EXPECT_GE(op.sequenceEnds, 1) << "the host never learnt that the sequence ended";
  }
  // A restart that outlasts the exchange's resends is a lost link as well.
  const bool linkLost = op.state().session->counters.linkLosses > linkLossesBefore;
  if (cut == Cut::kLinkLoss) {
    EXPECT_TRUE(linkLost);
  }
  EXPECT_EQ(op.Reported(kLinkLostText), linkLost);
  EXPECT_EQ(op.Reported("(Homing aborted! Axis not homed.)"), activity == Activity::kHoming);
  EXPECT_EQ(op.Reported("(Probing aborted! No probe position.)"), activity == Activity::kProbing);

  machine.ExpectNothingMoves();
  machine.ExpectItMovesWhenCommanded();
}

std::string MotionCutName(
    const ::testing::TestParamInfo<std::tuple<CardCase, Activity, Cut>>& info) {
  return std::string(std::get<0>(info.param).name) + ActivityName(std::get<1>(info.param)) +
         CutName(std::get<2>(info.param));
}

// Every model, activity and cut; the four-axis card has no emergency-stop input to press.
std::vector<std::tuple<CardCase, Activity, Cut>> EveryCut() {
  std::vector<std::tuple<CardCase, Activity, Cut>> cases;
  for (const CardCase& card : {kLorn4Case, kLorn5Case, kPell5Case}) {
    for (int a = 0; a <= static_cast<int>(Activity::kProbing); ++a) {
      for (int c = 0; c <= static_cast<int>(Cut::kCardReboot); ++c) {
        if (card.model == sim::CardModel::kLorn4 && c == static_cast<int>(Cut::kEStopInput)) {
          continue;
        }
        cases.emplace_back(card, static_cast<Activity>(a), static_cast<Cut>(c));
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryModel, MotionCut, ::testing::ValuesIn(EveryCut()), MotionCutName);

class LinkDown : public ::testing::TestWithParam<CardCase> {
 protected:
  LinkDown() : machine(GetParam()) {}

  void LoseTheLinkWhileIdle() {
    machine.op.machine.ConnectAndReset();
    HostCallbacks::Codes().clear();
    machine.op.Unplug(true);
    ASSERT_TRUE(machine.op.RunUntil([&] { return !machine.op.online(); }, 400));
  }
  void PlugBackIn() {
    machine.op.Unplug(false);
    ASSERT_TRUE(machine.op.RunUntil([&] { return machine.op.online(); }, 600));
  }
  CutMachine machine;
};

// Commands given while the card cannot be reached, then the operator's emergency stop: when the
// link returns, the card is halted before anything else and nothing moves.
TEST_P(LinkDown, AResetWithoutTheLinkHaltsTheCardFirstWhenItReturns) {
  MachineOperator& op = machine.op;
  HostMachine& m = *op.host().machine;
  LoseTheLinkWhileIdle();
  op.plugin().JogOn(0, 0, kAxisSpeed);
  ASSERT_EQ(op.state().motion.MotionMode, kJogMove);
  op.RunTicks(20);
  m.EStop = 1;
  op.plugin().Reset();
  EXPECT_TRUE(op.Reported(kNotConnectedText));
  EXPECT_EQ(op.state().motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(m.Jogging, 0);
  EXPECT_EQ(op.state().requests.RequestFlags, kRequestHalt);

  const uint32_t commandsBefore = op.card().stats().commands;
  const int32_t at = op.card().position(0);
  PlugBackIn();
  op.RunTicks(10);
  ASSERT_GT(op.card().stats().commands, commandsBefore);
  const int firstAfter = static_cast<int>(op.card().stats().commands - commandsBefore) - 1;
  ASSERT_LT(firstAfter, sim::VirtualCard::kHistory);
  EXPECT_EQ(op.card().History(firstAfter).code, static_cast<uint8_t>(sim::CommandCode::kHalt));
  EXPECT_EQ(op.card().state(), sim::kHalted);
  EXPECT_EQ(op.card().position(0), at);
  machine.ExpectNothingMoves();
  machine.ExpectItMovesWhenCommanded();
}

// Nothing was moving: the link comes back by itself and the machine carries on as before.
TEST_P(LinkDown, WhileIdleTheLinkOnlyReconnects) {
  MachineOperator& op = machine.op;
  LoseTheLinkWhileIdle();
  op.RunTicks(50);
  PlugBackIn();
  op.RunTicks(10);
  EXPECT_EQ(op.host().machine->EStop, 0);
  EXPECT_FALSE(op.Reported(kLinkLostText));
  EXPECT_EQ(op.card().state(), sim::kReady);

  int32_t from[sim::kMaxAxes] = {};
  for (int i = 0; i < op.axes; ++i) from[i] = op.card().position(i);
  op.StartJob(2 * kSlicesPerSecond);
  ASSERT_TRUE(op.RunUntil(
      [&] {
        return op.job->AllTaken() && op.host().control->MotionIdle == 1 &&
               op.card().bufferedRows() == 0;
      },
      2000));
  op.RunTicks(10);
  for (int i = 0; i < op.axes; ++i) {
    EXPECT_EQ(op.card().position(i), from[i] + op.job->CommandedSteps(i)) << "channel " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, LinkDown,
                         ::testing::Values(kLorn4Case, kLorn5Case, kPell5Case), CardCaseName);

}  // namespace
}  // namespace torvexan::testing
