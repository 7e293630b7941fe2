#include "state/plugin_settings.h"

#include <cstring>

namespace torvexan {

double PluginSettings::PullOff(int channel) const {
  switch (channel) {
    case 0:
      return XPullOff;
    case 1:
      return YPullOff;
    case 2:
      return ZPullOff;
    case 3:
      return APullOff;
    case 4:
      return BPullOff;
    default:
      return 0.0;
  }
}

int AxisPairIndex(const int32_t (&axisMap)[kCardChannels]) {
  const int64_t sum = int64_t{axisMap[3]} + axisMap[4];
  for (int i = 0; i < kAxisPairCount; ++i) {
    if (sum == kAxisPairs[i].fourth + kAxisPairs[i].fifth) return i;
  }
  return -1;
}

int AxesMapCode(const int32_t (&axisMap)[kCardChannels]) {
  const int i = AxisPairIndex(axisMap);
  return kAxisPairs[i < 0 ? 0 : i].code;
}

void ApplyAxesMapCode(int code, int32_t (&axisMap)[kCardChannels]) {
  const AxisPair* pair = &kAxisPairs[0];
  for (const AxisPair& p : kAxisPairs) {
    if (p.code == code) pair = &p;
  }
  axisMap[0] = 0;
  axisMap[1] = 1;
  axisMap[2] = 2;
  axisMap[3] = pair->fourth;
  axisMap[4] = pair->fifth;
}

int AxesMapCodeOfText(const char* text) {
  for (const AxisPair& p : kAxisPairs) {
    if (std::strcmp(text, p.text) == 0) return p.code;
  }
  return kAxisPairs[kAxisPairCount - 1].code;
}

}  // namespace torvexan
