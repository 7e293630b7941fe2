// The USB transport against the scripted libusb table: opening, the handshake polled across
// ticks, and the blocking exchange with its attempts.
#include <gtest/gtest.h>

#include "link/card_session.h"
#include "link/usb_transport.h"
#include "link_fixture.h"

namespace torvexan::testing {
namespace {

class UsbTransportTest : public LinkFixture {
 protected:
  void SetUp() override {
    Start(true);
    ApplyCardModel(*session, kCardPell5);
  }

  // Runs the handshake to its end within a few ticks; returns the last result.
  int Handshake() {
    int r = kStepYielded;
    for (int i = 0; i < 10 && r == kStepYielded; ++i) {
      ++state->cycle.TickCount;
      r = UsbConnectStep(*state);
    }
    return r;
  }
};

TEST_F(UsbTransportTest, HandshakeIsPolledAcrossTicksAndBringsTheLinkUp) {
  usb->pollsPerTransfer = 2;
  EXPECT_EQ(UsbConnectStep(*state), kStepYielded);  // request outstanding
  EXPECT_EQ(UsbConnectStep(*state), kStepYielded);  // reply outstanding
  EXPECT_EQ(UsbConnectStep(*state), kStepEnded);
  EXPECT_TRUE(session->online);
  EXPECT_EQ(state->link.TransportStep, 0);
  EXPECT_EQ(usb->claims, 1);
  EXPECT_EQ(usb->configurations, 1);
  ASSERT_EQ(usb->connectRequests.size(), 1u);
  const Bytes& request = usb->connectRequests[0];
  EXPECT_EQ(request[0], 2);
  EXPECT_EQ(request[1], 1);
  EXPECT_EQ(request[2], 0);
  EXPECT_EQ(Bytes(request.begin() + 3, request.begin() + 10),
            (Bytes{'-', '0', '0', '0', '1', '2', '3'}))
      << "the serial number's bytes from 3 on ride along";
  EXPECT_EQ(request[10], 0);
  EXPECT_STREQ(session->deviceName, "Pell5 Motion Card");
  EXPECT_STREQ(session->serialText, "PL5-000123");
  EXPECT_EQ(session->usbSequence, 1);
  EXPECT_EQ(session->freeSlots, 190);
  EXPECT_EQ(session->cardTime, 0x1234);
  EXPECT_EQ(usb->transfersAllocated, usb->transfersFreed);
}

TEST_F(UsbTransportTest, FailedHandshakesCloseTheDeviceAndStartAfresh) {
  struct Case {
    const char* what;
    void (*arrange)(FakeUsbCard&);
  };
  const Case cases[] = {
      {"absent", [](FakeUsbCard& u) { u.present = false; }},
      {"no product string", [](FakeUsbCard& u) { u.productReadable = false; }},
      {"no reply", [](FakeUsbCard& u) { u.answerConnect = false; }},
      {"foreign sequence", [](FakeUsbCard& u) { u.connectSequenceSkew = 1; }},
  };
  for (const Case& c : cases) {
    *usb = FakeUsbCard{};
    FakeUsbCard::current = usb.get();
    c.arrange(*usb);
    const uint8_t sequence = session->usbSequence;
    EXPECT_EQ(Handshake(), kStepWaiting) << c.what;
    EXPECT_FALSE(session->online) << c.what;
    EXPECT_EQ(session->usbHandle, nullptr) << c.what;
    EXPECT_EQ(usb->closes, usb->opens) << c.what;
    EXPECT_EQ(usb->transfersAllocated, usb->transfersFreed) << c.what;
    EXPECT_EQ(session->usbSequence, sequence) << c.what;
    EXPECT_EQ(state->link.TransportStep, 0) << c.what;
  }
  EXPECT_STREQ(session->deviceName, "Pell5 Motion Card");
  usb->productReadable = false;
  Handshake();
  EXPECT_STREQ(session->deviceName, "") << "an unreadable product string leaves the name empty";
}

TEST_F(UsbTransportTest, DeviceStringsAreAlwaysTerminated) {
  usb->product = std::string(60, 'P');
  usb->serial = std::string(60, 'S');
  ASSERT_EQ(Handshake(), kStepEnded);
  EXPECT_EQ(std::string(session->deviceName), std::string(31, 'P'));
  EXPECT_EQ(std::string(session->serialText), std::string(31, 'S'));
  EXPECT_EQ(usb->connectRequests[0][40], 'S') << "the request still carries the whole string";
}

TEST_F(UsbTransportTest, ShortSerialNumberLeavesZerosInTheRequest) {
  usb->serial = "AB";
  ASSERT_EQ(Handshake(), kStepEnded);
  const Bytes& request = usb->connectRequests[0];
  EXPECT_EQ(Bytes(request.begin() + 3, request.end()), Bytes(61, 0));
}

TEST_F(UsbTransportTest, WithoutTheLibraryEveryOpenFails) {
  session->usb->exit(nullptr);
  session->usb = nullptr;  // as a session whose library failed to start
  session->usbStarted = false;
  EXPECT_FALSE(UsbOpen(*session));
  EXPECT_EQ(UsbConnectStep(*state), kStepWaiting);
  EXPECT_EQ(usb->openAttempts, 0);
}

TEST_F(UsbTransportTest, StaleReplyThenTheRightOneWithinOneAttempt) {
  ASSERT_EQ(Handshake(), kStepEnded);
  QueueStatusPoll();
  const uint8_t sequence = session->usbSequence;
  usb->scriptedReplies = {UsbStatusReply(static_cast<uint8_t>(sequence - 1), 5),
                          UsbStatusReply(sequence, 42)};
  EXPECT_EQ(UsbExchangeStep(*state), kStepEnded);
  EXPECT_TRUE(session->online);
  EXPECT_EQ(usb->commands.size(), 1u);
  EXPECT_EQ(usb->bulkReads, 2);
  EXPECT_EQ(session->freeSlots, 42);
  EXPECT_EQ(session->usbSequence, static_cast<uint8_t>(sequence + 1));
  EXPECT_GT(session->txLength, 0) << "the link state machine clears the pending length";
}

TEST_F(UsbTransportTest, SilentCardSpendsTenAttemptsOnTheSameBytes) {
  ASSERT_EQ(Handshake(), kStepEnded);
  QueueStatusPoll();
  usb->answerCommands = false;
  EXPECT_EQ(UsbExchangeStep(*state), kStepEnded);
  EXPECT_FALSE(session->online);
  ASSERT_EQ(usb->commandWires.size(), 10u);
  for (const Bytes& w : usb->commandWires) EXPECT_EQ(w, usb->commandWires[0]);
  EXPECT_EQ(usb->commands[0][3], kMotionCmd);
  EXPECT_EQ(UsbExchangeStep(*state), kStepExited) << "offline on entry";
  EXPECT_EQ(usb->commandWires.size(), 10u);
}

TEST_F(UsbTransportTest, RejectedRepliesFailTheAttempt) {
  ASSERT_EQ(Handshake(), kStepEnded);
  QueueStatusPoll();
  const uint8_t sequence = session->usbSequence;
  Bytes badKind = UsbStatusReply(sequence, 1);
  badKind[1] = 7;
  // Two stale replies in a row: the attempt reads only once more, then the packet goes again.
  usb->scriptedReplies = {badKind, UsbStatusReply(static_cast<uint8_t>(sequence - 1), 1),
                          UsbStatusReply(static_cast<uint8_t>(sequence - 2), 1)};
  EXPECT_EQ(UsbExchangeStep(*state), kStepEnded);
  EXPECT_TRUE(session->online);
  EXPECT_EQ(usb->commands.size(), 3u);
  EXPECT_EQ(state->link.transport.ExchangeAttempts, 2);
}

}  // namespace
}  // namespace torvexan::testing
