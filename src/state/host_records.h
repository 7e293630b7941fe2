// The contract between the plug-in and its host: the four records the host hands to
// InitControl, the callbacks it registers, and the exported entry points.
//
// The host owns these records and keeps them in place from InitControl until StopPlug; the
// plug-in reads and writes the named values in place. The layout is ours: any host that
// fills these structures can drive the plug-in (the simulated host in sim/ does).
#pragma once

#include <cstdint>

#include "platform/host_window.h"

namespace torvexan {

inline constexpr int kMoveQueueSize = 4096;  // entries of the host's move queue
inline constexpr int kHostAxisCount = 6;     // X, Y, Z, A, B, C
inline constexpr int kAxisRecordCount = 7;   // the six axes and the spindle (index 6)
inline constexpr int kSpindleAxis = 6;
inline constexpr int kInputSignalCount = 53;
inline constexpr int kOutputSignalCount = 30;

// A host axis index X..C, as AxisMap and the host's calls name axes; the spindle record
// (index 6) is no axis.
constexpr bool IsHostAxis(int32_t axis) {
  return axis >= 0 && axis < kHostAxisCount;
}
inline constexpr int kProbeInput = 22;  // InputSignals entry of the probe
inline constexpr int kAuxInput = 25;    // InputSignals entry sent with the probe pin

// Index of the first limit, second limit and home input of host axis a in InputSignals.
constexpr int FirstLimitInput(int a) {
  return 3 * a;
}
constexpr int SecondLimitInput(int a) {
  return 3 * a + 1;
}
constexpr int HomeInput(int a) {
  return 3 * a + 2;
}

// Host booleans are bytes; the plug-in writes 0 and 1.
using HostBool = uint8_t;

struct AxisRecord {
  HostBool Enabled;
  HostBool IsSlave;
  int32_t SlaveOf;         // host axis that a slaved axis follows
  int32_t PositionCounts;  // steps
  HostBool AxisMoveFlag;
  int32_t ProbeCounts;  // steps, written at the end of probing
  HostBool ProbeFlag;
  HostBool DirActiveLow;
  HostBool StepActiveLow;
  uint8_t StepPin;
  uint8_t StepPort;
};

struct InputSignal {
  HostBool Enabled;
  uint8_t Pin;
  uint8_t Port;
  HostBool ActiveLow;
  HostBool Active;
};

struct OutputSignal {
  HostBool Enabled;
  uint8_t Pin;
  uint8_t Port;
  HostBool Active;
  HostBool ActiveLow;
};

// The machine-record half of one move-queue entry.
struct MoveQueueTag {
  int32_t MoveTag;
};

// The control-record half of one move-queue entry: fractional steps of one 5 ms slice.
struct MoveQueueSteps {
  double MoveSteps[kHostAxisCount];
};

struct HostMachine {
  MoveQueueTag MoveQueue[kMoveQueueSize];
  int32_t MoveQueueRead;   // next entry the plug-in takes; advanced by the plug-in
  int32_t MoveQueueWrite;  // next entry the host fills

  HostBool HostSuspended;
  HostBool EStop;
  HostBool Jogging;
  HostBool Homing;
  HostBool SequenceEnded;
  HostBool LimitOverride;
  HostBool SoftLimitsOn;

  int32_t Dwelling;
  int32_t ProbeRunning;
  int32_t StopCode;
  int32_t MpgCounts;
  int32_t CurrentMoveTag;

  AxisRecord Axes[kAxisRecordCount];
  int32_t SoftLimitMax[kHostAxisCount];  // steps
  int32_t SoftLimitMin[kHostAxisCount];  // steps
  int32_t AxisSpeed[kHostAxisCount];
  HostBool AxisHomed[kHostAxisCount];
  int32_t HomeReferenceCounts[kHostAxisCount];  // steps

  InputSignal InputSignals[kInputSignalCount];
  OutputSignal OutputSignals[kOutputSignalCount];

  int32_t IoTimingDividend;
  int32_t IoTimingDivisor;
};

struct HostControl {
  MoveQueueSteps MoveQueue[kMoveQueueSize];
  HostBool QueueDrain;  // the host wants the queue emptied and the end of data reported
  HostBool MotionIdle;  // written by the plug-in: 1 = no motion in progress

  double StepsPerUnit[kHostAxisCount];
  double MaxVelocity[kHostAxisCount];   // units per second
  double Acceleration[kHostAxisCount];  // units per second squared
  double AxisPosition[kHostAxisCount];  // units
  int32_t HomeSpeedPercent[kHostAxisCount];
  HostBool HomeNegative[kHostAxisCount];
  double ProbeTarget[kHostAxisCount];  // units
  double FeedPerSecond;
  int32_t ProbeState;

  int32_t JogMode;  // 2 = handwheel jogging
  HostBool DwellInMs;
  int32_t PendingWordA;
  int32_t PendingWordB;
  HostBool MotionResetFlag;

  HostBool SpindlePwm;
  double SpindleFraction;
  int32_t ComPort;
  int32_t ComBaud;

  // Fixed values the plug-in writes at start-up.
  double SpindleSpeedLimit;
  double SpindleMaxSpeed;
  double RateLimits[7];
  double CycleSeconds;
  int32_t CycleRate;
  HostBool HostOptionA;
  HostBool HostOptionB;
  int16_t HostOptionC;
  HostBool HostOptionD;
};

inline constexpr int kJogRatePercent = 0;  // index in HostDoubles
inline constexpr int kHostDoubleCount = 64;

struct HostDoubles {
  double Values[kHostDoubleCount];
};

struct HostFrame {
  HostWindow MainWindow;
  HostBool MenuFlag;
  HostBool* FullSpeedJog;  // the host's full-speed-jog flag
};

// Callbacks the host registers; all use the C calling convention.
extern "C" {
typedef void (*CodeCallbackFn)(const char* text);
typedef int (*MenuRangeCallbackFn)(int count);
typedef void (*DoButtonFn)(int16_t code);
typedef void (*SetDroFn)(int16_t code, double value);
typedef double (*GetDroFn)(int16_t code);
typedef bool (*GetLedFn)(int16_t code);
typedef void (*SetLedFn)(int16_t code, bool on);
}

}  // namespace torvexan
