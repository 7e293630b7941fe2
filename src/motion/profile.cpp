// The arithmetic of one jerk-limited profile: planning, sampling into whole steps, stopping.
#include "motion/profile.h"

#include <algorithm>
#include <cmath>

namespace torvexan {

namespace {

constexpr double kOneThird = 1.0 / 3.0;

// A profile that moves nothing.
void MakeIdle(AxisProfile& p) {
  p.stepCount = 0;
  p.stepIndex = 0;
  p.lastSteps = 0;
  p.direction = 1;
  p.distance = 0.0;
  p.totalTime = 0.0;
  p.stepTime = 0.0;
  p.planned = 0;
  p.hasCruise = 0;
  for (ProfilePhase& phase : p.phases) phase = ProfilePhase{};
}

bool IsPositiveFinite(double v) {
  return std::isfinite(v) && v > 0.0;
}

// A zero, negative or non-finite limit would give an infinite or undefined number of rows, so
// such a move is refused rather than planned.
bool UsableLimits(double jerkLimit, double a, double v, double signedDistance, double timeQuantum,
                  double stepsPerUnit) {
  return !std::isnan(jerkLimit) && IsPositiveFinite(a) && IsPositiveFinite(v) &&
         IsPositiveFinite(timeQuantum) && IsPositiveFinite(stepsPerUnit) &&
         std::isfinite(signedDistance);
}

void SetPhase(ProfilePhase& phase, double endTime, double v, double position, double a) {
  phase.endTime = endTime;
  phase.startSpeed = v;
  phase.startPosition = position;
  phase.startAcceleration = a;
}

// Jerk up to full speed, cruise for tc, jerk down to rest.
void PlanWithCruise(AxisProfile& p, double J, double V, double r, double D) {
  const double tc = (D - 2 * V * r) / V;
  const double r3 = r * r * r;
  p.hasCruise = 1;
  SetPhase(p.phases[0], r, 0, 0, 0);
  SetPhase(p.phases[1], 2 * r, V / 2, J * r3 / 6, J * r);
  SetPhase(p.phases[2], 2 * r + tc, V, V * r, 0);
  SetPhase(p.phases[3], 3 * r + tc, V, V * r + V * tc, 0);
  SetPhase(p.phases[4], 4 * r + tc, V / 2, D - J * r3 / 6, -J * r);
  p.totalTime = 4 * r + tc;
}

// A move too short for full speed: four jerk phases of equal length t around peak speed P.
void PlanShort(AxisProfile& p, double J, double D) {
  const double u = D / (2 * J);
  const double t = std::pow(u, kOneThird);
  const double P = t * t * J;
  p.hasCruise = 0;
  p.shortRampTime = t;
  SetPhase(p.phases[0], t, 0, 0, 0);
  SetPhase(p.phases[1], 2 * t, P / 2, J * u / 6, J * t);
  SetPhase(p.phases[2], 2 * t, P, D / 2, 0);
  SetPhase(p.phases[3], 3 * t, P, D / 2, 0);
  SetPhase(p.phases[4], 4 * t, P / 2, D - J * u / 6, -J * t);
  p.totalTime = 4 * t;
}

// The first phase whose end time is not before profile time x; -1 past the end.
int PhaseAt(const AxisProfile& p, double x) {
  for (int i = 0; i < 5; ++i) {
    if (!(p.phases[i].endTime < x)) return i;
  }
  return -1;
}

}  // namespace

void BuildProfile(double jerkLimit, double acceleration, double speed, double signedDistance,
                  double timeQuantum, double stepsPerUnit, AxisProfile& p) {
  const double A = acceleration;
  const double V = speed;
  p.timeQuantum = timeQuantum;
  p.stepsPerUnit = stepsPerUnit;
  p.acceleration = A;
  p.speed = V;
  if (!UsableLimits(jerkLimit, A, V, signedDistance, timeQuantum, stepsPerUnit)) {
    MakeIdle(p);
    return;
  }
  double J = std::min(jerkLimit, A * A / V);
  p.stepIndex = 0;
  p.lastSteps = 0;
  double D = signedDistance;
  p.direction = 1;
  if (signedDistance < 0) {
    p.direction = -1;
    D = -signedDistance;
  }
  // Rounded step positions are 32-bit counts: a longer move (a homing run of 9999 units on a
  // fine axis) ends where the count runs out instead of wrapping.
  D = std::min(D, kMaxProfileSteps / stepsPerUnit);
  p.distance = D;
  if (J < kMinJerk) J = kMinJerk;
  p.jerk = J;
  p.accelLimitTime = A / J;
  double r = std::sqrt(V / J);
  // When the jerk had to be raised above A x A / V, reaching V would need more than the
  // acceleration limit; the cruise speed is lowered to A x A / J so the acceleration peaks
  // exactly at A. At J = A x A / V the planned formulas hold as they are.
  double cruiseSpeed = V;
  if (J > A * A / V) {
    cruiseSpeed = A * A / J;
    r = std::sqrt(cruiseSpeed / J);
  }
  p.rampTime = r;
  // The phases are always computed from this build's limits, so a profile never replays the
  // phases of an earlier move.
  p.planned = 1;
  p.fullSpeedDistance = 2 * cruiseSpeed * r;
  if (p.fullSpeedDistance < D) {
    PlanWithCruise(p, J, cruiseSpeed, r, D);
  } else {
    PlanShort(p, J, D);
  }
  const double rows = std::ceil(p.totalTime / timeQuantum);
  // A move so slow that its rows overflow the 32-bit count is refused.
  if (!(rows <= kMaxProfileRows)) {
    MakeIdle(p);
    return;
  }
  p.stepCount = static_cast<int32_t>(rows);
  p.stepTime = p.stepCount > 0 ? p.totalTime / p.stepCount : 0.0;
}

double ProfilePosition(const AxisProfile& p, int32_t index) {
  double x = index * p.stepTime;
  const int i = PhaseAt(p, x);
  if (i < 0) return p.distance;
  if (i > 0) x -= p.phases[i - 1].endTime;
  const double J = p.jerk;
  const double v = p.phases[i].startSpeed;
  const double a = p.phases[i].startAcceleration;
  const double s = p.phases[i].startPosition;
  switch (i) {
    case 0:
      return x * x * x * J / 6;
    case 1:
      return ((a / 2 - J * x / 6) * x + v) * x + s;
    case 2:
      return v * x + s;
    case 3:
      return (v - J * x * x / 6) * x + s;
    default:
      return ((J * x / 6 + a / 2) * x + v) * x + s;
  }
}

int32_t NextProfileStep(AxisProfile& p) {
  if (p.stepIndex >= p.stepCount) return 0;
  p.stepIndex += 1;
  // Rounding the absolute position, not each delta, makes the deltas of a whole profile sum
  // to the rounded step distance.
  const double position = ProfilePosition(p, p.stepIndex) * p.stepsPerUnit;
  const int32_t s = static_cast<int32_t>(std::floor(position + 0.5));
  const int32_t delta = s - p.lastSteps;
  p.lastSteps = s;
  return p.direction * delta;
}

int GenerateRows(CardSession& session, int n, int32_t* rows) {
  const int axes = std::min<int>(session.axisCount, kMaxCardAxes);
  int produced = 0;
  while (produced < n && axes != 0) {
    int32_t* row = rows + produced * axes;
    bool moved = false;
    for (int c = 0; c < axes; ++c) {
      AxisProfile& p = session.axisJog[c];
      row[c] = 0;
      if (p.stepIndex < p.stepCount) {
        row[c] = NextProfileStep(p);
        moved = true;
      }
    }
    if (!moved) return produced;
    ++produced;
  }
  return produced;
}

int ProfileRowsLeft(const CardSession& session) {
  const int axes = std::min<int>(session.axisCount, kMaxCardAxes);
  int left = 0;
  for (int c = 0; c < axes; ++c) {
    const AxisProfile& p = session.axisJog[c];
    left = std::max(left, p.stepCount - p.stepIndex);
  }
  return left;
}

void StopProfile(AxisProfile& p) {
  // A profile that has run out has nothing left to stop.
  if (p.stepIndex >= p.stepCount) return;
  const int32_t k = p.stepIndex;
  const int32_t reached = p.lastSteps;
  const int i = PhaseAt(p, k * p.stepTime);
  double distance = 0.0;
  switch (i) {
    case 0:
      distance = 12 * ProfilePosition(p, k);
      break;  // short profile peaking now
    case 1:
      distance = 2 * p.phases[2].startPosition;
      break;
    case 2:
      distance = ProfilePosition(p, k) + p.phases[2].startPosition;
      break;
    default:
      return;  // already decelerating
  }
  BuildProfile(p.jerk, p.acceleration, p.speed, distance * p.direction, p.timeQuantum,
               p.stepsPerUnit, p);
  p.stepIndex = k;
  p.lastSteps = reached;
  NextProfileStep(p);
}

void ClearProfiles(CardSession& session) {
  const int axes = std::min<int>(session.axisCount, kMaxCardAxes);
  for (int c = 0; c < axes; ++c) {
    AxisProfile& p = session.axisJog[c];
    p.stepCount = 0;
    p.lastSteps = 0;
    p.stepIndex = 0;
  }
}

}  // namespace torvexan
