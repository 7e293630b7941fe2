// What the planner's tests share: the default machine's records to plan for and write into,
// and feed moves in a few words.
#pragma once

#include <gtest/gtest.h>

#include "sim/gcode/planner.h"
#include "sim/host/host_records_owner.h"
#include "sim/host/machine_setup.h"

namespace torvexan::sim::testing {

class PlannerFixture : public ::testing::Test {
 protected:
  HostRecordsOwner records{DefaultMachine()};
  HostMachine& m = records.machine();
  HostControl& c = records.control();

  static PathSegment Feed(int line, double feed, double x, double y, double z = 0.0,
                          double a = 0.0) {
    PathSegment s;
    s.line = line;
    s.feedPerMinute = feed;
    s.target[0] = x;
    s.target[1] = y;
    s.target[2] = z;
    s.target[3] = a;
    return s;
  }
};

}  // namespace torvexan::sim::testing
