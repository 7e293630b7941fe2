// The I/O configuration the card receives with ConfigureCmd, filled from the host's signal
// tables by the request dispatcher. Per-axis arrays are indexed by host axis 0..5; a pin of 0
// means not assigned.
#pragma once

#include <cstdint>

#include "state/host_records.h"

namespace torvexan {

struct IoConfig {
  uint8_t auxPin;
  uint8_t auxLowActive;
  uint8_t probePin;
  uint8_t probeLowActive;
  uint8_t firstLimitPin[kHostAxisCount];
  uint8_t firstLimitLowActive[kHostAxisCount];
  uint8_t secondLimitPin[kHostAxisCount];
  uint8_t secondLimitLowActive[kHostAxisCount];
  uint8_t homePin[kHostAxisCount];
  uint8_t homeLowActive[kHostAxisCount];
  uint8_t directionLowActive[kHostAxisCount];
  uint8_t stepLowActive[kHostAxisCount];
  uint8_t spindleStepPin;
  uint8_t spindleStepLowActive;
  uint16_t timingWord;
};

// What ConfigureCmd carries besides the IoConfig.
struct ConfigureInputs {
  const int32_t* positionImage;  // one position per card channel
  const int32_t* axisMap;        // host axis of each card channel
  int32_t outputPin;             // laser-cutter output 1..4, 0 = none
  int32_t zDeepth;               // laser depth in whole host units
  const double* stepsPerUnit;    // per host axis
};

}  // namespace torvexan
