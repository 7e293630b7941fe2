// The machine file: the documented example read key by key, what a file leaves out taken from
// the built-in machine, and every kind of mistake refused with its file, line and key.
#include <gtest/gtest.h>

#include <string>

#include "card/machine_layout.h"
#include "tools/torvexan-sim/machine_file.h"

namespace torvexan::sim::testing {
namespace {

std::string Refusal(const std::string& text) {
  MachineFile file;
  std::string error;
  EXPECT_FALSE(ParseMachineFile(text, "m.toml", &file, &error)) << text;
  return error;
}

TEST(MachineFile, TheDocumentedExampleGivesEveryPartOfTheMachine) {
  MachineFile f;
  std::string error;
  ASSERT_TRUE(LoadMachineFile(TORVEXAN_SOURCE_DIR "/examples/machine.toml", &f, &error)) << error;
  ASSERT_TRUE(f.card.has_value());
  EXPECT_EQ(*f.card, CardChoice::kLorn5);
  EXPECT_EQ(f.init, "G17 G21 G90 G94 G40 G49 G80 G64");
  const MachineSetup& m = f.machine;
  EXPECT_EQ(m.axes[0].stepsPerUnit, 800.0);
  EXPECT_EQ(m.axes[2].maxVelocity, 15.0);
  EXPECT_EQ(m.axes[1].acceleration, 400.0);
  EXPECT_EQ(m.travel[0].min, -5.0);
  EXPECT_EQ(m.travel[1].max, 145.0);
  EXPECT_EQ(m.travel[2].max, 10.0);
  EXPECT_TRUE(m.home[2].present);
  EXPECT_FALSE(m.home[2].negative);
  EXPECT_EQ(m.home[0].at, -5.0);
  EXPECT_FALSE(m.home[3].present);
  EXPECT_EQ(m.probeSurfaceZ, -2.5);
  EXPECT_EQ(m.probeSlope[0], 0.002);
  EXPECT_EQ(m.probeSlope[1], -0.001);
  EXPECT_EQ(m.spindleMaxRpm, 12000.0);
  EXPECT_EQ(f.offsets.system(2)[0], 100.0);
  EXPECT_EQ(f.offsets.system(2)[1], 50.0);
  ASSERT_TRUE(f.hasTools);
  ASSERT_EQ(f.tools.size(), 2u);
  EXPECT_EQ(f.tools[1].number, 2);
  EXPECT_EQ(f.tools[1].length, 1.5);
  EXPECT_EQ(f.tools[0].diameter, 0.2);
}

TEST(MachineFile, WhatIsLeftOutIsTheBuiltInMachine) {
  MachineFile f;
  std::string error;
  ASSERT_TRUE(ParseMachineFile("[axes.y]\ntravel_max = 500\n[offsets]\nG92 = { z = -3 }\n",
                               "m.toml", &f, &error))
      << error;
  const MachineSetup built = DefaultMachine();
  EXPECT_FALSE(f.card.has_value());
  EXPECT_TRUE(f.init.empty());
  EXPECT_FALSE(f.hasTools);
  EXPECT_EQ(f.machine.travel[1].max, 500.0);
  EXPECT_EQ(f.machine.travel[1].min, built.travel[1].min);
  EXPECT_EQ(f.machine.axes[1].stepsPerUnit, built.axes[1].stepsPerUnit);
  EXPECT_EQ(f.machine.home[0].at, built.home[0].at);
  EXPECT_EQ(f.machine.probeSurfaceZ, built.probeSurfaceZ);
  // G92 at start is the offset itself, whatever the coordinate system holds.
  EXPECT_EQ(f.offsets.g92()[2], -3.0);
  EXPECT_EQ(f.offsets.Offset(2), -3.0);
  EXPECT_TRUE(ParseMachineFile("", "m.toml", &f, &error)) << error;
}

TEST(MachineFile, MistakesNameTheFileTheLineAndTheKey) {
  EXPECT_EQ(Refusal("card = \"lorn5\"\n[axes.x]\nvelocty = 3\n"),
            "m.toml:3: axes.x.velocty: unknown key (known here: steps_per_unit, velocity, "
            "acceleration, travel_min, travel_max, home)");
  EXPECT_EQ(Refusal("[axes.z]\nvelocity = \"fast\"\n"),
            "m.toml:2: axes.z.velocity: must be a number");
  EXPECT_EQ(Refusal("[axes.z]\n\nacceleration = 0\n"),
            "m.toml:3: axes.z.acceleration: must be above 0");
  EXPECT_EQ(Refusal("[axes.x]\ntravel_min = 10\ntravel_max = 10\n"),
            "m.toml:3: axes.x.travel_max: the travel's maximum must lie above its minimum");
  // A maximum left out is the built-in one, which a minimum above it contradicts too.
  EXPECT_EQ(Refusal("[axes.x]\ntravel_min = 300\n"),
            "m.toml:2: axes.x.travel_max: the travel's maximum must lie above its minimum");
  EXPECT_EQ(Refusal("[axes.y]\nhome = { at = 3, towards = \"up\" }\n"),
            "m.toml:2: axes.y.home.towards: must be \"negative\" or \"positive\"");
  EXPECT_EQ(Refusal("[axes.y]\nhome = { towards = \"negative\" }\n"),
            "m.toml:2: axes.y.home: needs 'at', where the switch trips");
  EXPECT_EQ(Refusal("[axes.b]\nhome = { at = 1 }\n"),
            "m.toml:2: axes.b.home: only X, Y, Z and A have home inputs");
  EXPECT_EQ(Refusal("card = \"lorn9\"\n"),
            "m.toml:1: card: must be \"lorn4\", \"lorn5\" or \"pell5\"");
  EXPECT_EQ(Refusal("\n[probe]\nsurface = -2\n"),
            "m.toml:3: probe.surface: unknown key (known here: present, surface_z, slope_x, "
            "slope_y)");
  EXPECT_EQ(Refusal("[spindle]\nmax_rpm = -1\n"), "m.toml:2: spindle.max_rpm: must be above 0");
  EXPECT_EQ(Refusal("[offsets]\nG60 = { x = 1 }\n"),
            "m.toml:2: offsets.G60: unknown key (known here: G54, G55, G56, G57, G58, G59, G92)");
  EXPECT_EQ(Refusal("[offsets]\nG55 = { w = 1 }\n"),
            "m.toml:2: offsets.G55.w: unknown key (known here: x, y, z, a, b, c)");
  EXPECT_EQ(Refusal("[[tool]]\nnumber = 1\n[[tool]]\nnumber = 1\n"),
            "m.toml:4: tool.number: tool 1 is given twice");
  EXPECT_EQ(Refusal("[[tool]]\nnumber = 1.5\n"),
            "m.toml:2: tool.number: must be a whole number from 0 to 9999");
  EXPECT_EQ(Refusal("[[tool]]\nlength = 3\n"), "m.toml:1: tool: needs its 'number'");
  EXPECT_EQ(Refusal("tool = 3\n"), "m.toml:1: tool: must be tables, one [[tool]] per tool");
  // The reader's own faults keep their line too.
  EXPECT_EQ(Refusal("[axes.x]\nvelocity = = 3\n").rfind("m.toml:2: ", 0), 0u);
  // A machine that cannot move is refused as --axis refuses it.
  EXPECT_EQ(Refusal("[axes.x]\nsteps_per_unit = 100000\nvelocity = 100\n"),
            "m.toml: axis X: at full speed one 5 ms slice exceeds 32767 steps");
}

TEST(MachineFile, TheInitializationStringSetsModesOnly) {
  MachineFile f;
  std::string error;
  ASSERT_TRUE(ParseMachineFile("init = \"G20 G91 G55\"", "m.toml", &f, &error)) << error;
  // The modes are in force from the job's first line on: inches, incremental, G55.
  const Job job = ParseJob("G0 X1\nG0 X1\n", {}, {}, f.init);
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].message;
  const std::vector<Block> blocks = AllBlocks(job);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_DOUBLE_EQ(blocks[0].axis[0], kMmPerInch);
  EXPECT_TRUE(blocks[1].incremental);
  EXPECT_EQ(blocks[1].coordinateSystem, 2);
  // Anything but modes is refused, with the file's line and key.
  for (const char* bad : {"init = \"G0 X10\"", "init = \"M3 S1000\"", "init = \"G43 H1\"",
                          "init = \"#1 = 5\"", "init = \"G17 Q5\""}) {
    EXPECT_EQ(Refusal(bad).rfind("m.toml:1: init: initialization string", 0), 0u) << bad;
  }
  // A job read with an initialization string read again after a probe keeps it.
  EXPECT_EQ(ParseJob("G0 X1\n", {}, {}, "G20").init, "G20");
}

TEST(MachineFile, TheProbeSurfaceReachesTheCardTiltedAsTheFileSays) {
  MachineFile f;
  std::string error;
  ASSERT_TRUE(
      ParseMachineFile("[axes.x]\nsteps_per_unit = 500\n[axes.z]\nsteps_per_unit = 2000\n"
                       "[probe]\nsurface_z = -2.5\nslope_x = 0.01\n",
                       "m.toml", &f, &error))
      << error;
  Machine card;
  ASSERT_TRUE(ApplyMachineLayout(CardMachineLayout(f.machine), &card, &error)) << error;
  // 0.01 mm of Z per mm of X is 0.04 Z steps per X step: at X 100 mm the top is 1 mm higher.
  int32_t at[kMaxAxes] = {50000, 0, -3000, 0, 0};
  EXPECT_EQ(card.ProbeSurfaceAt(at), -3000);
  EXPECT_TRUE(card.ProbeTouches(at));
  at[2] = -2999;
  EXPECT_FALSE(card.ProbeTouches(at));
  at[0] = 0;
  at[2] = -4999;
  EXPECT_FALSE(card.ProbeTouches(at)) << "at X 0 the top is at -2.5 mm";
  at[2] = -5000;
  EXPECT_TRUE(card.ProbeTouches(at));
  // No probe wired: nothing ever touches.
  ASSERT_TRUE(ParseMachineFile("[probe]\npresent = false\n", "m.toml", &f, &error)) << error;
  Machine none;
  ASSERT_TRUE(ApplyMachineLayout(CardMachineLayout(f.machine), &none, &error)) << error;
  at[2] = -1000000;
  EXPECT_FALSE(none.ProbeTouches(at));
  EXPECT_FALSE(ApplyMachineLayout("tilt:7:0.1", &none, &error));
  EXPECT_FALSE(ApplyMachineLayout("tilt:0:x", &none, &error));
}

}  // namespace
}  // namespace torvexan::sim::testing
