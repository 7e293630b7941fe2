// The link state machine: detection with both transports, reconnecting with a pending packet,
// the spindle step on the output bits, and resume points it does not know.
#include <gtest/gtest.h>

#include "link/step_result.h"
#include "link_fixture.h"

namespace torvexan::testing {
namespace {

class LinkMachineTest : public LinkFixture {};

TEST_F(LinkMachineTest, UsbCardWinsWhenTheDiscoveryReplyIsNotYetThere) {
  Start(true);
  card.reachableFrom = kFirstLocal;
  card.holdReplies = true;
  Tick();
  EXPECT_EQ(net.sent.size(), 1u) << "the discovery request went out first";
  EXPECT_EQ(session->cardType, kCardPell5);
  EXPECT_EQ(session->maxSegments, 5);
  EXPECT_EQ(session->estopMask, 0x8000u);
  EXPECT_FALSE(session->online);
  EXPECT_EQ(state->link.LinkStep, kLinkStart);
  Tick();
  EXPECT_TRUE(session->online);
  EXPECT_EQ(state->link.LinkStep, kLinkIdle);
  EXPECT_EQ(net.sent.size(), 1u);
  card.ReleaseHeld(net);
  QueueStatusPoll();
  Tick();
  EXPECT_EQ(session->txLength, 0);
  EXPECT_EQ(usb->commands.size(), 1u);
  EXPECT_TRUE(card.commands.empty());
}

TEST_F(LinkMachineTest, EthernetCardWinsWhenItAnswersWithinTheSameCall) {
  Start(true);
  card.reachableFrom = kFirstLocal;
  Tick();
  EXPECT_TRUE(session->online);
  EXPECT_EQ(session->cardType, kCardUnknown);
  EXPECT_EQ(usb->openAttempts, 0);
}

TEST_F(LinkMachineTest, NoCardKeepsDetectingOnBothPaths) {
  Start(true);
  usb->present = false;
  card.reachableFrom = 0;
  EXPECT_EQ(Tick(), kStepYielded);
  EXPECT_EQ(state->link.LinkStep, kLinkDetect);
  Ticks(30);
  EXPECT_EQ(usb->openAttempts, 31);
  EXPECT_EQ(net.sent.size(), 3u) << "one address per wait of a little over ten ticks";
  EXPECT_EQ(net.OpenSockets(), 1);
}

TEST_F(LinkMachineTest, WithoutUsbDetectionStillRunsEthernet) {
  Start(false);
  card.reachableFrom = 0;
  Ticks(5);
  EXPECT_EQ(session->usb, nullptr);
  EXPECT_EQ(state->link.LinkStep, kLinkDetect);
  EXPECT_EQ(net.sent.size(), 1u);
}

TEST_F(LinkMachineTest, UsbReconnectRealignsTheSequenceToThePendingPacket) {
  Start(true);
  card.reachableFrom = 0;
  Ticks(2);
  ASSERT_TRUE(session->online);
  session->usbSequence = 0;
  QueueStatusPoll();
  ASSERT_EQ(session->txSequence, 0);
  usb->answerCommands = false;
  Tick();
  EXPECT_FALSE(session->online);
  EXPECT_EQ(state->link.LinkStep, kLinkStart);
  const Bytes wire = usb->commandWires.back();
  const size_t discoverySends = net.sent.size();

  usb->answerCommands = true;
  Tick();  // handshake and the pending exchange in one tick
  EXPECT_TRUE(session->online);
  EXPECT_EQ(usb->connectRequests.back()[2], 255) << "txSequence 0 - 1";
  EXPECT_EQ(usb->commandWires.back(), wire);
  EXPECT_EQ(session->txLength, 0);
  EXPECT_EQ(session->usbSequence, 1);
  EXPECT_EQ(net.sent.size(), discoverySends) << "a known model reconnects on its own transport";
}

TEST_F(LinkMachineTest, ExchangeLeavesTheSpindleStepOnTheOutputBits) {
  Start(true);
  card.reachableFrom = 0;
  Ticks(2);
  ASSERT_TRUE(session->online);
  state->settings.MultiStep = true;
  usb->replyState = 1;  // ready: a halted card would have its spindle held off
  struct Case {
    uint16_t spindle;
    uint16_t level;
  };
  // Integer level (spindle * 7) / 1000, plus one for any speed, at most 7.
  for (const Case& c :
       {Case{0, 0}, Case{1, 1}, Case{142, 1}, Case{143, 2}, Case{285, 2}, Case{286, 3},
        Case{714, 5}, Case{715, 6}, Case{857, 6}, Case{858, 7}, Case{1000, 7}, Case{65535, 7}}) {
    session->spindleValue = c.spindle;
    session->outputBits = c.level == 0 ? 0x0007 : 0;
    QueueStatusPoll();
    Tick();
    ASSERT_EQ(session->txLength, 0);
    EXPECT_EQ(session->outputBits & 7, c.level) << c.spindle;
  }
}

TEST_F(LinkMachineTest, IdleLinkYieldsEveryTick) {
  Start(false);
  card.reachableFrom = kFirstLocal;
  Tick();
  ASSERT_TRUE(session->online);
  const size_t sent = net.sent.size();
  EXPECT_EQ(Tick(), kStepYielded);
  EXPECT_EQ(state->link.LinkStep, kLinkIdle);
  EXPECT_EQ(net.sent.size(), sent);
}

TEST_F(LinkMachineTest, UnknownResumePointRestartsWithoutDoingAnythingElse) {
  Start(true);
  state->link.LinkStep = 77;
  EXPECT_EQ(Tick(), kStepWaiting);
  EXPECT_EQ(state->link.LinkStep, kLinkStart);
  EXPECT_EQ(net.hostNameCalls, 0);
  EXPECT_TRUE(net.sent.empty());
  EXPECT_EQ(usb->openAttempts, 0);
}

TEST_F(LinkMachineTest, Pell4HasNoConnectPath) {
  Start(true);
  session->cardType = kCardPell4;
  Ticks(3);
  EXPECT_FALSE(session->online);
  EXPECT_EQ(state->link.LinkStep, kLinkStart);
  EXPECT_TRUE(net.sent.empty());
  EXPECT_EQ(usb->openAttempts, 0);
}

}  // namespace
}  // namespace torvexan::testing
