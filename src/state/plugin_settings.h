// The plug-in's persistent settings, with their compiled defaults.
#pragma once

#include <cstdint>
#include <string>

namespace torvexan {

inline constexpr int kCardChannels = 5;

struct PluginSettings {
  double XPullOff = 5.0;  // home pull-off of card channel 0, host units
  double YPullOff = 5.0;
  double ZPullOff = 5.0;
  double APullOff = 5.0;
  double BPullOff = 5.0;
  float SpindleRatio = 1.0f;
  uint32_t JogBufSize = 50;  // rows kept queued in the card while jogging, 5..199
  bool HomeTwice = true;
  bool MPGDisable = false;
  bool MultiStep = false;
  int32_t AxisMap[kCardChannels] = {0, 1, 2, 3, 4};  // host axis driven by each card channel
  float SpindleSpeed = 15000.0f;
  float FeedRate = 500.0f;  // per minute
  double Jerk = 1000.0;
  int32_t OutputPin = 0;
  int32_t ZDeepth = 0;
  std::string settingsPath;  // private copy of the path the host names; empty until then
  bool hasSettingsPath = false;

  // The pull-off distance of a card channel.
  double PullOff(int channel) const;
};

// The three host-axis pairs the fourth and fifth channels can drive: the stored code (AxesMap),
// the dialog's list text and the two host axes. Channels 0 to 2 are always X, Y, Z.
struct AxisPair {
  int code;
  const char* text;
  int32_t fourth;
  int32_t fifth;
};
inline constexpr AxisPair kAxisPairs[] = {{1, "A,B", 3, 4}, {2, "A,C", 3, 5}, {3, "B,C", 4, 5}};
inline constexpr int kAxisPairCount = sizeof kAxisPairs / sizeof kAxisPairs[0];

// The pair channels 3 and 4 hold, told apart by the sum of their axes (7, 8, 9), or -1 when
// the sum is none of these.
int AxisPairIndex(const int32_t (&axisMap)[kCardChannels]);
// The stored code of channels 3 and 4; a pair whose sum is none of the three counts as "A,B".
int AxesMapCode(const int32_t (&axisMap)[kCardChannels]);
// Sets channels 0 to 4 from a code; codes outside 1..3 count as 1.
void ApplyAxesMapCode(int code, int32_t (&axisMap)[kCardChannels]);
// The code of a list text; a text that is none of the three (no entry chosen) is "B,C".
int AxesMapCodeOfText(const char* text);

}  // namespace torvexan
