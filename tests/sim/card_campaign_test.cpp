// The card's own judge in a soak: rows it takes after a stop and before the host configured it
// again. A silence counts as a stop only when it cut motion and the plug-in lost the link over
// it (it looks for the card again); a plug-in that kept the link, or lost it while nothing
// moved, streams what the host commands.
#include "card_campaign.h"

#include <gtest/gtest.h>

#include "card_packets.h"

namespace torvexan::sim::testing {
namespace {

using tools::CampaignOptions;
using tools::CardCampaign;

class CardCampaignTest : public ::testing::Test {
 protected:
  CardCampaignTest() : campaign_(Options(), 3) {
    Handle(EthConfigure(seq_++, 5, false, {0, 0, 0, 0, 0}, {}));
  }

  static CampaignOptions Options() {
    CampaignOptions o;
    o.silenceEvery = 5;
    o.silenceSeconds = 4;
    return o;
  }

  void Handle(Bytes plain) {
    Send(card_, std::move(plain));
    campaign_.NoteHandled(card_);
  }
  void Rows(int count) { Handle(EthRows(seq_++, 1, 7, 5, Same(count, {1, 0, 0, 0, 0}))); }
  void Discovery() { Handle({0x55, 0xAA, 1, static_cast<uint8_t>(seq_), 0}); }

  // Runs the campaign's clock (not the card's: buffered rows stay buffered) through its next
  // burst of silence.
  void LiveThroughASilence() {
    while (!campaign_.Advance(card_, nowMs_)) ++nowMs_;
    while (campaign_.Advance(card_, nowMs_)) ++nowMs_;
  }

  uint32_t RowsAfterStop() const { return campaign_.figures().rowsAfterStop; }

  VirtualCard card_{CardModel::kLorn5};
  CardCampaign campaign_;
  uint16_t seq_ = 1;
  uint64_t nowMs_ = 0;
};

TEST_F(CardCampaignTest, RowsAfterASilenceThatCutMotionAndLostTheLinkCountUntilAConfigure) {
  Rows(20);
  LiveThroughASilence();
  Discovery();
  Rows(10);
  EXPECT_EQ(RowsAfterStop(), 10u);
  Handle(EthConfigure(seq_++, 5, false, {0, 0, 0, 0, 0}, {}));
  Rows(10);
  EXPECT_EQ(RowsAfterStop(), 10u);
}

TEST_F(CardCampaignTest, AKeptLinkOrALinkLostWhileIdleIsNoStop) {
  Rows(20);
  LiveThroughASilence();
  Rows(10);  // the plug-in resent its packet: it never lost the card
  Discovery();
  Rows(10);
  EXPECT_EQ(RowsAfterStop(), 0u);

  Handle(EthConfigure(seq_++, 5, false, {0, 0, 0, 0, 0}, {}));
  ASSERT_EQ(card_.bufferedRows(), 0);
  ASSERT_EQ(card_.state(), kReady);
  LiveThroughASilence();
  Discovery();
  Rows(10);
  EXPECT_EQ(RowsAfterStop(), 0u);
}

// The card reads its e-stop button once a 5 ms period: rows that reach it in the period of the
// press are taken, then flushed by the halt, and moved nothing. The stop counts from the halt.
TEST(CardCampaignEstop, TheStopCountsFromTheHaltTheButtonCauses) {
  CampaignOptions o;
  o.estopEvery = 1;
  CardCampaign campaign(o, 5);
  VirtualCard card(CardModel::kLorn5);
  uint16_t seq = 1;
  auto handle = [&](Bytes plain) {
    Send(card, std::move(plain));
    campaign.NoteHandled(card);
  };
  auto rows = [&](int count) { handle(EthRows(seq++, 1, 7, 5, Same(count, {1, 0, 0, 0, 0}))); };
  handle(EthConfigure(seq++, 5, false, {0, 0, 0, 0, 0}, {}));
  rows(50);
  uint64_t nowMs = 0;
  while (!card.machine().estop) campaign.Advance(card, ++nowMs);
  rows(20);  // before the card's next period
  EXPECT_EQ(campaign.figures().rowsAfterStop, 0u);
  card.Advance(5);
  campaign.Advance(card, nowMs);
  ASSERT_EQ(card.state(), kHalted);
  EXPECT_EQ(card.bufferedRows(), 0) << "the halt flushed what came before it";
  rows(10);  // sent after the halt: refused, and counted as tried after the stop
  EXPECT_EQ(campaign.figures().rowsRefusedAfterStop, 10u);
  card.machine().estop = false;
  card.Advance(5);
  handle(EthConfigure(seq++, 5, false, {0, 0, 0, 0, 0}, {}));
  rows(10);
  EXPECT_EQ(campaign.figures().rowsAfterStop, 0u) << "configured by the host: commanded";
}

}  // namespace
}  // namespace torvexan::sim::testing
