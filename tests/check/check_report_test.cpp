// How torvexan-check judges what it measured: the figures of the link test, the verdict on
// each, the exit status, and the JSON a support request carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "check_report.h"
#include "messages.h"
#include "report_output.h"
#include "verdicts.h"

namespace torvexan::check {
namespace {

LinkReport HealthyLink() {
  LinkReport l;
  l.ran = true;
  l.transport = "ethernet";
  l.seconds = 10;
  l.tickMs = 20;
  l.polls = 500;
  l.counters.exchanges = 500;
  l.roundTripsMs.assign(500, 0.2);
  return l;
}

Level LevelOf(const LinkReport& l, const std::string& figure) {
  for (const Verdict& v : l.verdicts) {
    if (v.figure == figure) return v.level;
  }
  ADD_FAILURE() << "no verdict on " << figure;
  return Level::kOk;
}

// The text report of a run that found a card, with this link test.
std::string TextOf(const CheckReport& r) {
  std::FILE* f = std::tmpfile();
  WriteText(f, r);
  std::string text(static_cast<size_t>(std::ftell(f)), '\0');
  std::rewind(f);
  text.resize(std::fread(text.data(), 1, text.size(), f));
  std::fclose(f);
  return text;
}

std::string TextOf(const LinkReport& l) {
  CheckReport r;
  r.eth.locals.push_back({0x0100007F, 0x000000FF, true});
  r.ethernetChecked = true;
  r.link = l;
  return TextOf(r);
}

FoundCard Card(const char* name, uint32_t address, uint32_t via) {
  FoundCard c;
  c.hardwareAddress = name;
  c.address = address;
  c.via = via;
  return c;
}

TEST(CheckVerdicts, RoundTripPercentilesAreTakenFromTheMeasuredSamples) {
  LinkReport l = HealthyLink();
  l.roundTripsMs.clear();
  for (int ms = 1; ms <= 100; ++ms) l.roundTripsMs.push_back(ms);
  std::shuffle(l.roundTripsMs.begin(), l.roundTripsMs.end(), std::mt19937(7));
  JudgeLink(l);
  EXPECT_EQ(l.rttMin, 1);
  EXPECT_EQ(l.rttMedian, 50);
  EXPECT_EQ(l.rttP99, 99);
  EXPECT_EQ(l.rttMax, 100);
  EXPECT_EQ(LevelOf(l, "round trip 99th percentile"), Level::kProblem) << "99 ms on a 20 ms tick";

  l.roundTripsMs.assign(100, 0.3);
  l.roundTripsMs[0] = 20;  // the 99th of a hundred sorted samples is the second slowest
  l.roundTripsMs[1] = 20;
  JudgeLink(l);
  EXPECT_EQ(LevelOf(l, "round trip 99th percentile"), Level::kOk) << "exactly one tick still fits";
}

TEST(CheckVerdicts, EachCounterIsJudgedAgainstWhatStreamingNeeds) {
  LinkReport l = HealthyLink();
  l.counters.exchanges = 1000;
  l.counters.resends = 10;
  JudgeLink(l);
  EXPECT_EQ(LevelOf(l, "resends"), Level::kWarning) << "1 % of exchanges";
  l.counters.resends = 11;
  JudgeLink(l);
  EXPECT_EQ(LevelOf(l, "resends"), Level::kProblem);

  l = HealthyLink();
  l.counters.linkLosses = 1;
  l.counters.rejectedReplies = 1;
  l.counters.heldReplies = 3;
  l.counters.staleReplies = 2;  // more late answers than resends
  JudgeLink(l);
  EXPECT_EQ(LevelOf(l, "link losses"), Level::kProblem);
  EXPECT_EQ(LevelOf(l, "rejected replies"), Level::kProblem);
  EXPECT_EQ(LevelOf(l, "held replies"), Level::kWarning);
  EXPECT_EQ(LevelOf(l, "stale replies"), Level::kWarning);
  for (const Verdict& v : l.verdicts) {
    EXPECT_EQ(v.advice.empty(), v.level == Level::kOk) << v.figure << ": advice iff not ok";
  }
}

TEST(CheckVerdicts, CardClockIsJudgedOnlyWhenMeasured) {
  LinkReport l = HealthyLink();
  JudgeLink(l);
  for (const Verdict& v : l.verdicts) EXPECT_NE(v.figure, "card clock");
  l.clockKnown = true;
  for (auto [ppm, level] : {std::pair{1500.0, Level::kOk}, std::pair{-5000.0, Level::kWarning},
                            std::pair{20000.0, Level::kProblem}}) {
    l.cardClockPpm = ppm;
    JudgeLink(l);
    EXPECT_EQ(LevelOf(l, "card clock"), level) << ppm << " ppm";
  }
}

TEST(CheckExitStatus, SaysWhetherACardWasFoundAndWhetherItsLinkIsHealthy) {
  CheckReport r;
  r.ethernetChecked = r.usbChecked = true;
  r.eth.locals.push_back({0x0100007F, 0x000000FF, true});  // 127.0.0.1/8
  EXPECT_EQ(ExitStatus(r), 2) << "nothing answered";

  r.eth.cards.push_back(Card("025456000001", 0x0100007F, 0x0100007F));
  r.link = HealthyLink();
  JudgeLink(r.link);
  EXPECT_EQ(ExitStatus(r), 0);

  r.eth.cards.push_back(Card("025456000002", 0x0100007F, 0x0100007F));
  EXPECT_EQ(ExitStatus(r), 1) << "two cards answered";
  r.eth.cards.pop_back();

  r.eth.cards.front().outsideSubnet = true;
  EXPECT_EQ(ExitStatus(r), 1) << "the card is outside the subnet";

  CheckReport usbOnly;
  usbOnly.ethernetChecked = usbOnly.usbChecked = true;
  usbOnly.eth.locals = r.eth.locals;
  usbOnly.usb.libraryLoaded = usbOnly.usb.opened = true;
  EXPECT_EQ(ExitStatus(usbOnly), 1) << "opened but no handshake";
  usbOnly.usb.answered = true;
  usbOnly.link = HealthyLink();
  usbOnly.link.transport = "usb";
  JudgeLink(usbOnly.link);
  EXPECT_EQ(ExitStatus(usbOnly), 0) << "no Ethernet card beside a healthy USB card is fine";
}

TEST(CheckExitStatus, ACardAskedForThatIsNotThereIsNoCardAndTheOthersSeenAreNamed) {
  CheckReport r;
  r.ethernetChecked = r.usbChecked = true;
  r.eth.locals.push_back({0x0100007F, 0x000000FF, true});
  FoundCard lorn5 = Card("025456000001", 0x0100007F, 0x0100007F);
  lorn5.model = "Lorn5";
  r.eth.cards.push_back(lorn5);
  r.eth.cards.push_back(lorn5);  // the same card, answering a second local address
  r.askedFor = "Pell5";
  r.askedMissing = true;
  EXPECT_EQ(ExitStatus(r), 2) << "a Lorn5 beside a missing Pell5 is no Pell5";
  EXPECT_EQ(MissingCardText(r), "No Pell5 answered. Seen instead: Lorn5 025456000001 at 127.0.0.1.");

  r.usb.opened = true;  // a USB device that did not answer the handshake
  EXPECT_EQ(MissingCardText(r),
            "No Pell5 answered. Seen instead: Lorn5 025456000001 at 127.0.0.1, a USB device with "
            "the card's ids.");
  r.eth.cards.clear();
  r.usb.opened = false;
  EXPECT_EQ(MissingCardText(r), "No Pell5 answered, and no other card either.");
  r.askedMissing = false;
  EXPECT_EQ(MissingCardText(r), "") << "the card asked for is there";
}

TEST(CheckExitStatus, WithoutALinkTestNoVerdictOnTheLink) {
  CheckReport r;
  r.ethernetChecked = true;
  r.eth.locals.push_back({0x0100007F, 0x000000FF, true});
  r.eth.cards.push_back(Card("025456000001", 0x0100007F, 0x0100007F));
  EXPECT_EQ(Judge(r), Outcome::kFoundUntested);
  EXPECT_EQ(ExitStatus(r), 0);
  EXPECT_STREQ(Summary(Judge(r)), "card found, link not tested (--seconds 0)");
  std::string text = TextOf(r);
  EXPECT_EQ(text.find("link healthy"), std::string::npos) << text;
  EXPECT_EQ(text.find("Link test:"), std::string::npos) << text;

  r.link = HealthyLink();
  JudgeLink(r.link);
  EXPECT_STREQ(Summary(Judge(r)), "card found, link healthy");
}

// At 15 % loss the resends' waits are no slow answers: they stay out of the round trip and its
// advice, and are judged as the loss they are.
TEST(CheckVerdicts, LossIsToldFromSlowAnswers) {
  LinkReport lossy = HealthyLink();
  lossy.roundTripsMs.assign(425, 0.3);  // answered at the first send
  lossy.resentPolls = 75;               // each waited out a resend of over ten ticks
  lossy.counters.exchanges = 500;
  lossy.counters.resends = 75;
  JudgeLink(lossy);
  EXPECT_EQ(LevelOf(lossy, "round trip 99th percentile"), Level::kOk);
  EXPECT_EQ(LevelOf(lossy, "resends"), Level::kProblem);
  EXPECT_EQ(LevelOf(lossy, "exchanges"), Level::kOk) << "polls answered after a resend count";
  const std::string text = TextOf(lossy);
  EXPECT_NE(text.find("polls answered only after a resend (lost, not slow): 75"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("interrupt moderation"), std::string::npos) << text;

  LinkReport slow = HealthyLink();
  slow.roundTripsMs.assign(500, 35.0);  // every answer later than a tick, none lost
  JudgeLink(slow);
  EXPECT_EQ(LevelOf(slow, "round trip 99th percentile"), Level::kProblem);
  EXPECT_EQ(LevelOf(slow, "resends"), Level::kOk);
  EXPECT_NE(TextOf(slow).find("interrupt moderation"), std::string::npos);
}

TEST(CheckJson, TheSupportReportParsesAndCarriesTheFigures) {
  CheckReport r;
  r.ethernetChecked = true;
  r.eth.locals.push_back({0x0100007F, 0x000000FF, true});
  r.eth.cards.push_back(Card("025456000001", 0x0100007F, 0x0100007F));
  r.eth.cards.front().model = "Lorn5";
  r.link = HealthyLink();
  r.link.counters.resends = 4;
  JudgeLink(r.link);
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  WriteJson(out, r);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(out);
  const auto json = nlohmann::json::parse(text);
  EXPECT_EQ(json["ethernet"]["cards"][0]["model"], "Lorn5");
  EXPECT_EQ(json["ethernet"]["cards"][0]["address"], "127.0.0.1");
  EXPECT_EQ(json["link_test"]["resends"], 4);
  EXPECT_DOUBLE_EQ(json["link_test"]["round_trip_ms"]["p99"].get<double>(), 0.2);
  EXPECT_EQ(json["exit_status"], ExitStatus(r));
  EXPECT_TRUE(json.contains("notice"));
}

}  // namespace
}  // namespace torvexan::check
