// The check of a whole job before anything moves: moves beyond an axis's travel refused with
// their line, axis, position and travel (or only warned of), the job's extents in program and
// machine coordinates, the offsets a machine starts with, and the length of the wrong tool.
#include <gtest/gtest.h>

#include <string>

#include "sim/gcode/gcode.h"
#include "sim/host/host_records_owner.h"
#include "sim/host/job_driver.h"
#include "sim/host/machine_setup.h"

namespace torvexan::sim::testing {
namespace {

class TravelCheckTest : public ::testing::Test {
 protected:
  HostRecordsOwner records{DefaultMachine()};

  JobSetup Setup(bool warnOnly = false) {
    JobSetup setup;
    const MachineSetup m = DefaultMachine();
    std::copy(m.travel, m.travel + kHostAxisCount, setup.travel.axis);
    setup.travel.warnOnly = warnOnly;
    return setup;
  }

  JobCheck Check(const std::string& text, const JobSetup& setup,
                 const std::vector<ToolEntry>& tools = {}) {
    const Job job = ParseJob(text, tools);
    EXPECT_TRUE(job.errors.empty()) << job.errors[0].message;
    return CheckJob(job, records.control(), setup);
  }
};

TEST_F(TravelCheckTest, AMoveBeyondTheTravelIsRefusedWithItsLineAxisPositionAndTravel) {
  const JobCheck check = Check("G21 G90\nG0 X10 Y10\nG0 X3000 Y-2500\nG0 X0 Y0\nM30\n", Setup());
  ASSERT_EQ(check.errors.size(), 2u);
  EXPECT_EQ(check.errors[0].line, 3);
  EXPECT_EQ(check.errors[0].message,
            "X 3000.000 lies beyond the travel -30.000 .. 270.000 (machine coordinates)");
  EXPECT_EQ(check.errors[1].line, 3);
  EXPECT_EQ(check.errors[1].message,
            "Y -2500.000 lies beyond the travel -30.000 .. 270.000 (machine coordinates)");
  EXPECT_TRUE(check.travelWarnings.empty());
  EXPECT_EQ(FormatJobError("job.nc", check.errors[0]),
            "job.nc:3: X 3000.000 lies beyond the travel -30.000 .. 270.000 (machine "
            "coordinates)");
}

TEST_F(TravelCheckTest, IgnoringTheTravelTurnsEveryRefusalIntoAWarning) {
  const JobCheck check = Check("G0 X3000 Y-2500\nG0 X0 Y0\nM30\n", Setup(true));
  EXPECT_TRUE(check.errors.empty());
  ASSERT_EQ(check.travelWarnings.size(), 2u);
  EXPECT_EQ(check.travelWarnings[1].line, 1);
  EXPECT_EQ(check.moves, 2);
}

TEST_F(TravelCheckTest, ATallToolLiftsZAboveItsSwitchAndAnArcLeavesTheTravelOncePerLine) {
  // Tool 1 is 32 mm long: Z5 in the program is Z37 on the machine, above Z's end at 10.
  const std::vector<ToolEntry> tools = {ToolEntry{1, 1, 6.0, 32.0}};
  JobCheck check = Check("T1 M6\nG43 H1\nG0 Z5\nM30\n", Setup(), tools);
  ASSERT_EQ(check.errors.size(), 1u);
  EXPECT_EQ(check.errors[0].line, 3);
  EXPECT_EQ(check.errors[0].message,
            "Z 37.000 lies beyond the travel -90.000 .. 30.000 (machine coordinates)");
  // A full circle through X 280: many slices beyond the end, one refusal.
  check = Check("G0 X250 Y0\nG2 X250 Y0 I15 J0 F600\nM30\n", Setup());
  ASSERT_EQ(check.errors.size(), 1u);
  EXPECT_EQ(check.errors[0].line, 2);
  EXPECT_EQ(check.errors[0].message.substr(0, 2), "X ");
}

TEST_F(TravelCheckTest, OnlyTheAxesAMoveChangesCount) {
  JobSetup setup = Setup();
  // The machine starts with X beyond the travel of this setup; moving Y alone is fine.
  setup.travel.axis[0] = AxisTravel{10.0, 100.0};
  JobCheck check = Check("G0 Y20\nG0 Y0\nM30\n", setup);
  EXPECT_TRUE(check.errors.empty()) << check.errors[0].message;
  EXPECT_FALSE(check.extents[0].moved);
  check = Check("G0 X5\nM30\n", setup);
  ASSERT_EQ(check.errors.size(), 1u);
  // A probe's target is a move as well.
  check = Check("G31 Z-95 F100\nM30\n", Setup());
  ASSERT_EQ(check.errors.size(), 1u);
  EXPECT_EQ(check.errors[0].message,
            "Z -95.000 lies beyond the travel -90.000 .. 30.000 (machine coordinates)");
}

TEST_F(TravelCheckTest, ExtentsInProgramAndMachineCoordinatesWithTheOffsetsAtStart) {
  JobSetup setup = Setup();
  setup.offsets.SetSystem(1, 0, 100.0);  // G54 X 100, as the host kept it
  setup.offsets.SetG92Offset(1, -20.0);  // and a G92 offset of Y -20
  const JobCheck check = Check("G0 X-10 Y5\nG1 X50 Y25 F500\nG0 Z2\nG0 Z-1\nM30\n", setup);
  ASSERT_TRUE(check.errors.empty()) << check.errors[0].message;
  const AxisExtent& x = check.extents[0];
  ASSERT_TRUE(x.moved);
  EXPECT_DOUBLE_EQ(x.programMin, -10.0);
  EXPECT_DOUBLE_EQ(x.programMax, 50.0);
  EXPECT_DOUBLE_EQ(x.machineMin, 90.0);
  EXPECT_DOUBLE_EQ(x.machineMax, 150.0);
  const AxisExtent& y = check.extents[1];
  EXPECT_DOUBLE_EQ(y.programMin, 5.0);
  EXPECT_DOUBLE_EQ(y.machineMin, -15.0);
  EXPECT_DOUBLE_EQ(y.machineMax, 5.0);
  EXPECT_DOUBLE_EQ(check.extents[2].programMin, -1.0);
  EXPECT_DOUBLE_EQ(check.extents[2].programMax, 2.0);
  EXPECT_FALSE(check.extents[3].moved);
  // The offsets the job started with are still in force at its end.
  EXPECT_DOUBLE_EQ(check.offsets.Offset(0), 100.0);
  EXPECT_DOUBLE_EQ(check.offsets.Offset(1), -20.0);
}

TEST(ToolLengthWarnings, TheLengthOfAnotherToolThanTheOneInTheSpindle) {
  std::vector<JobWarning> w = ToolLengthWarnings(ParseJob("T1 M6\nG43 H2\nG0 Z5\nM30\n"));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].line, 2);
  EXPECT_EQ(w[0].message, "G43 H2 applies the length of tool 2 while tool 1 is in the spindle");
  // Before any M6 the tool T selected counts; the next tool selected early does not.
  w = ToolLengthWarnings(ParseJob("T1\nG44 H3\nM30\n"));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].message, "G44 H3 applies the length of tool 3 while tool 1 is in the spindle");
  EXPECT_TRUE(ToolLengthWarnings(ParseJob("T1 M6\nT2\nG43 H1\nG43\nG49\nM30\n")).empty());
  EXPECT_TRUE(ToolLengthWarnings(ParseJob("G43 H4\nM30\n")).empty()) << "no tool known";
  EXPECT_EQ(ToolLengthWarnings(ParseJob("T1 M6\nG43 H1\nT2 M6\nG43 H1\nM30\n")).size(), 1u);
}

}  // namespace
}  // namespace torvexan::sim::testing
