// What a new user may hand torvexan-sim by mistake: a directory, a device, a binary file, a
// line without end, option values out of range, card options the card cannot honour where it
// runs. Each ends in a short message, never in a parse of garbage or unbounded memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/gcode/gcode.h"
#include "tools/card_options.h"
#include "tools/torvexan-sim/console_log.h"
#include "tools/torvexan-sim/sim_options.h"

namespace torvexan::sim::testing {
namespace {

std::string TempFile(const std::string& name, const std::string& bytes) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

TEST(JobText, WhatIsNotAGcodeFileIsRefusedWithItsReason) {
  std::string text, error;
  EXPECT_FALSE(ReadJobText(std::filesystem::temp_directory_path().string(), &text, &error));
  EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
  // An endless device and a line without end stop at the longest line, not at memory's end.
  EXPECT_FALSE(ReadJobText("/dev/zero", &text, &error));
  EXPECT_NE(error.find("longer than 64 KiB"), std::string::npos) << error;
  EXPECT_LE(text.size(), kLongestJobLine + 64 * 1024);
  const std::string endless = TempFile("torvexan-long.nc", "G1 X" + std::string(1 << 20, '1'));
  EXPECT_FALSE(ReadJobText(endless, &text, &error));
  EXPECT_NE(error.find("line 1 is longer"), std::string::npos) << error;
  const std::string binary =
      TempFile("torvexan-binary.nc", std::string("G0\x01\nX\x02\n\x7F\nG1\n"));
  EXPECT_FALSE(ReadJobText(binary, &text, &error));
  EXPECT_NE(error.find("control bytes on 3 lines"), std::string::npos) << error;
  EXPECT_FALSE(ReadJobText("/no/such/job.nc", &text, &error));
  // Tabs, carriage returns and form feeds are text; one odd line is the parser's to report.
  const std::string fine = TempFile("torvexan-fine.nc", "G1\tX1\r\n\f\nG0\x01 X2\n");
  ASSERT_TRUE(ReadJobText(fine, &text, &error)) << error;
  EXPECT_EQ(text, "G1\tX1\r\n\f\nG0\x01 X2\n");
  for (const std::string& p : {endless, binary, fine}) std::filesystem::remove(p);
}

TEST(JobText, NothingUnprintableReachesTheTerminal) {
  EXPECT_EQ(PrintableText("job.nc:3: 'Q5'"), "job.nc:3: 'Q5'");
  EXPECT_EQ(PrintableText(std::string("a\x1b[2Jb\x00\xff", 8)), "a\\x1B[2Jb\\x00\\xFF");
  // Status texts are GB2312: shown in UTF-8; bytes that are no GB2312 shown escaped.
  EXPECT_EQ(StatusTextUtf8("(\xC9\xE8\xB1\xB8\xCE\xB4\xC1\xAC\xBD\xD3)"),
            "(\xE8\xAE\xBE\xE5\xA4\x87\xE6\x9C\xAA\xE8\xBF\x9E\xE6\x8E\xA5)");
  EXPECT_EQ(StatusTextUtf8("(Card link lost!)"), "(Card link lost!)");
  EXPECT_EQ(StatusTextUtf8("\xFF\x01"), "\\xFF\\x01");
}

bool Parse(std::vector<const char*> words, SimOptions* o, std::string* error) {
  words.insert(words.begin(), "torvexan-sim");
  words.push_back("job.nc");
  return ParseSimOptions(static_cast<int>(words.size()), const_cast<char**>(words.data()), o,
                         error);
}

TEST(SimCommandLine, RefusalsNameTheRangeAndOptionsNothingWouldRead) {
  struct Case {
    std::vector<const char*> words;
    const char* says;
  };
  const Case cases[] = {
      {{"--stall-seconds", "0"}, "--stall-seconds: must be between 1 and 3600, not 0"},
      {{"--chord-tolerance", "0"}, "must be above 0 up to 10"},
      {{"--card-arg=--drop", "--card-arg=1.5"}, "--drop: must be between 0 and 1, not 1.5"},
      {{"--card-arg=--port", "--card-arg=99"}, "--card-arg=--port: torvexan-sim sets this"},
      {{"--card-arg=--frob"}, "--frob"},
      {{"--fast", "--plugin", "x.so"}, "--fast links the plug-in in"},
      {{"--fast", "--card-bin", "card"}, "--card-bin names the torvexan-card program"},
      {{"--card", "lorn5", "--usb-lib-dir", "d"}, "--usb-lib-dir is for --card pell5"},
      {{"--card", "pell5", "--card-arg=--drop", "--card-arg=0.1"}, "add --fast"},
      {{"--fast", "--card-arg=--report-every", "--card-arg=5"}, "does not have"},
  };
  for (const Case& c : cases) {
    SimOptions o;
    std::string error;
    EXPECT_FALSE(Parse(c.words, &o, &error)) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(SimCommandLine, TheCardsFaultsReadWithTheCardsOwnTableAlsoInVirtualTime) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(Parse(
      {"--fast", "--card", "pell5", "--card-arg=--drop-in", "--card-arg=0.25",
       "--card-arg=--duplicate", "--card-arg=0.5", "--card-arg=--reboot-every", "--card-arg=7",
       "--card-arg=--estop-every", "--card-arg=3", "--card-arg=--latency", "--card-arg=4",
       "--card-arg=--mac", "--card-arg=02:00:00:00:00:09", "--reset-after-estop"},
      &o, &error))
      << error;
  const tools::CardServerOptions& f = o.cardFaults;
  EXPECT_EQ(f.toCard.drop, 0.25);
  EXPECT_EQ(f.fromCard.drop, 0.0);
  EXPECT_EQ(f.toCard.duplicate, 0.5);
  EXPECT_EQ(f.fromCard.duplicate, 0.5);
  EXPECT_EQ(f.rebootEvery, 7.0);
  EXPECT_EQ(f.campaign.estopEvery, 3.0);
  EXPECT_TRUE(f.latencyGiven);
  EXPECT_EQ(f.card.hardwareAddress[5], 9);
  EXPECT_TRUE(o.resetAfterStop);
  // torvexan-card reads the same table from its own command line, the last value winning.
  tools::CardServerOptions server;
  bool help = false;
  const char* argv[] = {"torvexan-card", "--model", "lorn4", "--drop", "0.1", "--drop", "0.2"};
  ASSERT_TRUE(tools::ParseCardServerOptions(7, const_cast<char**>(argv), server, help));
  EXPECT_EQ(server.model, CardModel::kLorn4);
  EXPECT_EQ(server.toCard.drop, 0.2);
  EXPECT_EQ(server.fromCard.drop, 0.2);
}

}  // namespace
}  // namespace torvexan::sim::testing
