// One jerk-limited (S-curve) velocity profile of a card channel: the phases of the curve and
// the sampling state that turns it into 5 ms rows of whole steps.
#pragma once

#include <cstdint>

namespace torvexan {

struct ProfilePhase {
  double endTime;  // seconds from the start of the profile
  double startSpeed;
  double startPosition;
  double startAcceleration;
};

struct AxisProfile {
  int32_t stepCount;    // rows of the profile
  double timeQuantum;   // nominal time of one row, 0.005 s
  double stepsPerUnit;  // of the channel's host axis
  int32_t lastSteps;    // rounded step position reached so far
  int32_t direction;    // +1 or -1
  int32_t stepIndex;    // last step generated, 0 before the first
  double jerk;          // jerk actually used
  double acceleration;  // limit given
  double speed;         // limit given
  double distance;      // absolute distance to travel
  double stepTime;      // totalTime / stepCount
  double rampTime;      // sqrt(speed / jerk)
  double accelLimitTime;
  double shortRampTime;
  double totalTime;
  double fullSpeedDistance;
  int32_t planned;
  int32_t hasCruise;
  ProfilePhase phases[5];
};

// The state a fresh card session gives each channel's record.
inline void InitAxisProfile(AxisProfile& p) {
  p = AxisProfile{};
  p.stepsPerUnit = 1.0;
  p.direction = 1;
}

}  // namespace torvexan
