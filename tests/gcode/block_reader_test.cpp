// Blocks read on demand: subprograms run in order however they nest and repeat, a copy of a
// reader (or of the interpreter around it) goes on as the original does, the lines after a
// probe read where it tripped, and a call repeated without end still stops while reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "sim/gcode/block_reader.h"
#include "sim/gcode/job_file.h"
#include "sim/gcode/job_interpreter.h"

namespace torvexan::sim::testing {
namespace {

constexpr double kNoReference[kHostAxisCount] = {};

std::vector<int> Lines(const std::vector<Block>& blocks) {
  std::vector<int> lines;
  for (const Block& b : blocks) lines.push_back(b.line);
  return lines;
}

// What a block carries that the interpreter uses, in one line of text to compare.
std::string Describe(const Block& b) {
  char text[512];
  std::snprintf(text, sizeof text,
                "%d m%d p%d in%d inc%d f%g cs%d cr%g t%d sel%d nm%d st%d r%g "
                "[%d%d%d %g %g %g] [%g %g %g]",
                b.line, static_cast<int>(b.motion), static_cast<int>(b.plane), b.inches,
                b.incremental, b.feedPerMinute, b.coordinateSystem, b.compRadius, b.tool,
                b.selectTool, static_cast<int>(b.nonModal), static_cast<int>(b.stop), b.radius,
                b.hasAxis[0], b.hasAxis[1], b.hasAxis[2], b.axis[0], b.axis[1], b.axis[2],
                b.centre[0], b.centre[1], b.centre[2]);
  return text;
}

std::vector<std::string> ReadOn(BlockReader* reader) {
  std::vector<std::string> out;
  Block b;
  while (reader->Next(&b)) out.push_back(Describe(b));
  return out;
}

std::string Describe(const JobAction& a) {
  char text[160];
  std::snprintf(text, sizeof text, "%d@%d %g %g %g", static_cast<int>(a.kind), a.line,
                a.move.target[0], a.move.target[1], a.move.target[2]);
  return text;
}

TEST(BlockReader, SubprogramsRunWhereTheyAreCalledAsOftenAsLSaysNestedOrNot) {
  const Job job = ParseJob(
      "G0 X0\n"       // 1
      "M98 P10 L2\n"  // 2
      "M98 P30 L0\n"  // 3: L0 runs it no time
      "G0 X9\n"       // 4
      "M30\n"         // 5
      "O10\n"         // 6
      "G0 Y1\n"       // 7
      "M98 P20 L3\n"  // 8
      "M99\n"         // 9
      "O20\n"         // 10
      "G0 Z1\n"       // 11
      "M99\n"         // 12
      "O30\n"         // 13
      "G0 Z9\n"       // 14
      "M99\n");       // 15
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].message;
  EXPECT_TRUE(job.ended);
  const std::vector<int> once = {7, 8, 11, 12, 11, 12, 11, 12, 9};
  std::vector<int> expected = {1, 2};
  expected.insert(expected.end(), once.begin(), once.end());
  expected.insert(expected.end(), once.begin(), once.end());
  expected.insert(expected.end(), {3, 4, 5});
  EXPECT_EQ(Lines(AllBlocks(job)), expected);
  EXPECT_EQ(job.blockCount, expected.size());

  // A subprogram whose O line is the file's last, without a line end: the call runs into the
  // end of the file, as the job does without M30.
  const Job last = ParseJob("G0 X1\nM98 P7\nM30\nO7");
  EXPECT_EQ(Lines(AllBlocks(last)), (std::vector<int>{1, 2}));
  ASSERT_EQ(last.warnings.size(), 1u);
  EXPECT_EQ(last.warnings[0].line, 4);
  EXPECT_NE(last.warnings[0].message.find("no M2 or M30"), std::string::npos);
  // Lines ending in CR LF find their subprograms too.
  const Job crlf = ParseJob("M98 P2 L2\r\nM30\r\nO2\r\nG0 X1\r\nM99\r\n");
  ASSERT_TRUE(crlf.errors.empty()) << crlf.errors[0].message;
  EXPECT_EQ(Lines(AllBlocks(crlf)), (std::vector<int>{1, 4, 5, 4, 5, 2}));
}

// Parameters, the tool table, offsets, units and a call under way: all of it in the copy.
constexpr const char* kBusyJob =
    "G20 #1 = 0.5\n"
    "G10 L1 P3 R0.1 Z2\n"
    "T3 M6 G43 H3\n"
    "M98 P100 L3\n"
    "G21 G52 X1\n"
    "G0 X[#5211 + 1]\n"
    "M30\n"
    "O100\n"
    "#1 = [#1 * 2]\n"
    "G91 G1 F20 X#1 Y-#1\n"
    "G90 G41 D3 G1 X1 Y1\n"
    "G40 G0 X0 Y0\n"
    "M98 P200 L2\n"
    "M99\n"
    "O200\n"
    "G2 X[#1] Y0 I[#1 / 2] J0\n"
    "M99\n";

TEST(BlockReader, ACopyMadeAnywhereGoesOnAsTheOriginal) {
  const Job job = ParseJob(kBusyJob);
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].line << ": " << job.errors[0].message;
  BlockReader whole(job);
  const std::vector<std::string> all = ReadOn(&whole);
  ASSERT_EQ(all.size(), job.blockCount);
  for (size_t k = 0; k <= all.size(); ++k) {
    BlockReader reader(job);
    Block b;
    for (size_t i = 0; i < k; ++i) ASSERT_TRUE(reader.Next(&b));
    BlockReader copy = reader;
    const std::vector<std::string> rest(all.begin() + static_cast<long>(k), all.end());
    EXPECT_EQ(ReadOn(&copy), rest) << "copied after " << k << " blocks";
    EXPECT_EQ(ReadOn(&reader), rest) << "the original, after its copy went on";
    EXPECT_EQ(copy.count(), all.size());
    EXPECT_TRUE(copy.ended());
  }
}

TEST(BlockReader, AnInterpreterCopiedMidJobGoesOnAsTheOriginal) {
  const Job job = ParseJob(kBusyJob);
  ASSERT_TRUE(job.errors.empty());
  Interpreter original(job, kDefaultChordToleranceMm, kNoReference);
  std::vector<std::string> all;
  while (std::optional<JobAction> a = original.Next()) all.push_back(Describe(*a));
  ASSERT_FALSE(original.error().has_value()) << original.error()->message;
  ASSERT_GT(all.size(), 20u);
  // Some thirty places along the job, arc slices and compensation under way among them.
  const size_t step = std::max<size_t>(1, all.size() / 29);
  for (size_t k = 0; k < all.size(); k += step) {
    Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
    for (size_t i = 0; i < k; ++i) ASSERT_TRUE(interpreter.Next().has_value());
    Interpreter copy = interpreter;
    std::vector<std::string> fromCopy, fromOriginal;
    while (std::optional<JobAction> a = copy.Next()) fromCopy.push_back(Describe(*a));
    while (std::optional<JobAction> a = interpreter.Next()) fromOriginal.push_back(Describe(*a));
    const std::vector<std::string> rest(all.begin() + static_cast<long>(k), all.end());
    EXPECT_EQ(fromCopy, rest) << "copied after " << k << " actions";
    EXPECT_EQ(fromOriginal, rest);
  }
}

// A probe run three times, each followed by a dwell that reads nothing of it and a move that
// goes where it tripped. G54 is 1 mm down.
constexpr const char* kProbeJob =
    "G10 L2 P1 Z-1\n"
    "M98 P5 L3\n"
    "M30\n"
    "O5\n"
    "G91 G0 X10\n"
    "G90 G38.2 Z-20 F100\n"
    "G4 P0.1\n"
    "G0 Z[#2002 + 2]\n"
    "M99\n";

// The moves of job, each probe tripping 5 mm, 6 mm, 7 mm .. below G54's zero; the trip goes
// to the interpreter at once, or (late) once it has read the next block too.
std::vector<std::string> ProbedMoves(const Job& job, bool late, ProbeTrips* trips) {
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  std::vector<std::string> moves;
  std::optional<size_t> untold;
  while (std::optional<JobAction> a = interpreter.Next()) {
    if (untold) {
      interpreter.Tripped(*untold, *trips);
      untold.reset();
    }
    if (a->kind == JobAction::Kind::kMove) moves.push_back(Describe(*a));
    if (a->kind != JobAction::Kind::kProbe) continue;
    const double z = -5.0 - static_cast<double>(trips->size());
    (*trips)[a->block] = ProbeTrip{{0.0, 0.0, z}};
    if (late) {
      untold = a->block;
    } else {
      interpreter.Tripped(a->block, *trips);
    }
  }
  EXPECT_FALSE(interpreter.error().has_value()) << interpreter.error()->message;
  return moves;
}

TEST(BlockReader, TheLinesAfterAProbeReadWhereItTripped) {
  const Job job = ParseJob(kProbeJob);
  ASSERT_TRUE(job.errors.empty());
  for (const bool late : {false, true}) {
    SCOPED_TRACE(late ? "told after the next block was read" : "told at once");
    ProbeTrips trips;
    const std::vector<std::string> moves = ProbedMoves(job, late, &trips);
    ASSERT_EQ(trips.size(), 3u);
    // The whole job read with every trip point known from the start: the same moves.
    const Job known = ParseJob(kProbeJob, {}, trips);
    Interpreter interpreter(known, kDefaultChordToleranceMm, kNoReference);
    std::vector<std::string> expected;
    std::vector<double> heights;
    while (std::optional<JobAction> a = interpreter.Next()) {
      if (a->kind != JobAction::Kind::kMove) continue;
      expected.push_back(Describe(*a));
      if (a->move.rapid && a->line == 8) heights.push_back(a->move.target[2]);
    }
    EXPECT_EQ(moves, expected);
    // Machine Z: 2 mm above the trip point, G54 1 mm down.
    EXPECT_EQ(heights, (std::vector<double>{-4.0, -5.0, -6.0}));
  }
  // Unknown, the trip point reads as the target.
  const std::vector<Block> blocks = AllBlocks(job);
  ASSERT_GT(blocks.size(), 5u);
  EXPECT_EQ(blocks[5].line, 8);
  EXPECT_DOUBLE_EQ(blocks[5].axis[2], -18.0);
}

TEST(BlockReader, ReadingOnFromAProbeFindsWhatItsTripPointBreaks) {
  const char* text = "G38.2 Z-20 F100\nG1 F100 X[1 / [#2002 + 12.5]]\nG0 X[#5063]\n";
  const Job job = ParseJob(text);
  ASSERT_TRUE(job.errors.empty());
  EXPECT_EQ(job.lastProbeResultReader, 2);
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  std::optional<JobAction> probe = interpreter.Next();
  ASSERT_TRUE(probe && probe->kind == JobAction::Kind::kProbe);
  EXPECT_EQ(probe->block, 0u);
  // With the target nothing is wrong; with the trip point line 2 divides by zero.
  EXPECT_TRUE(ReadRest(interpreter.reader()).errors.empty());
  const ProbeTrips trips = {{0, ProbeTrip{{0.0, 0.0, -12.5}}}};
  interpreter.Tripped(0, trips);
  const ReadLog rest = ReadRest(interpreter.reader());
  ASSERT_EQ(rest.errors.size(), 1u);
  EXPECT_EQ(rest.errors[0].line, 2);
  EXPECT_EQ(rest.errors[0].message, "'X[1/[#2002+12.5]]': division by zero");
  EXPECT_EQ(rest.lastProbeResultReader, 1) << "line 3, whose block follows the probe's now";
  EXPECT_EQ(interpreter.reader().count(), 1u) << "reading on was done on a copy";
}

TEST(BlockReader, ACallRepeatedWithoutEndStopsWhileReading) {
  const char* text = "M98 P1 L99999999\nM30\nO1\nG0 X1\nG0 X2\nM99\n";
  const Job job = ParseJob(text);
  ASSERT_EQ(job.errors.size(), 1u);
  EXPECT_EQ(job.errors[0].line, 6);
  EXPECT_EQ(job.errors[0].message,
            "subprogram repeats run more than 2000000 blocks beyond the file's own");
  EXPECT_FALSE(job.ended);
  // Two million blocks beyond the file's seven lines (the last one empty), and not one more.
  EXPECT_EQ(job.blockCount, 2'000'008u);
  // A reader that tells nothing stops there too.
  BlockReader reader(job);
  Block b;
  while (reader.Next(&b)) {
  }
  EXPECT_EQ(reader.count(), job.blockCount);
}

TEST(BlockReader, WhatTheBlocksComeToIsGatheredInTheOneRead) {
  const Job job = ParseJob(
      "T1 M6\n"
      "M98 P9 L2\n"
      "M40\n"
      "M3 S1000\n"
      "M30\n"
      "O9\n"
      "T2 M6 G43 H1\n"
      "M99\n");
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].message;
  EXPECT_EQ(job.tally.toolChanges, 3);
  EXPECT_EQ(job.tally.toolsChanged, (std::set<int>{1, 2}));
  EXPECT_TRUE(job.tally.probeLog);
  EXPECT_TRUE(job.tally.spindleOrUserCode);
  ASSERT_EQ(job.tally.toolLength.size(), 2u) << "once each time line 7 runs";
  EXPECT_EQ(job.tally.toolLength[0].line, 7);
  const Job quiet = ParseJob("G0 X1\nM30\n");
  EXPECT_EQ(quiet.tally.toolChanges, 0);
  EXPECT_FALSE(quiet.tally.probeLog);
  EXPECT_FALSE(quiet.tally.spindleOrUserCode);
}

}  // namespace
}  // namespace torvexan::sim::testing
