// The simulated machine of the integration tests: the rig with the operator's start-up
// checked by the test framework.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "integration/machine_rig.h"

namespace torvexan::testing {

class SimulatedMachine : public MachineRig {
 public:
  using MachineRig::MachineRig;

  void ConnectAndReset() {
    const char* failure = Connect();
    ASSERT_EQ(failure, nullptr) << failure;
  }
};

inline std::string CardCaseName(const ::testing::TestParamInfo<CardCase>& info) {
  return info.param.name;
}

}  // namespace torvexan::testing
