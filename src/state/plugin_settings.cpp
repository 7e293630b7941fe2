#include "state/plugin_settings.h"

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

int AxesMapCode(const int32_t (&axisMap)[kCardChannels]) {
  // A,B sums to 7, A,C to 8, B,C to 9; anything else is taken as A,B.
  const int64_t code = int64_t{axisMap[3]} + axisMap[4] - 6;
  return (code >= 1 && code <= 3) ? static_cast<int>(code) : 1;
}

void ApplyAxesMapCode(int code, int32_t (&axisMap)[kCardChannels]) {
  axisMap[0] = 0;
  axisMap[1] = 1;
  axisMap[2] = 2;
  switch (code) {
    case 2:
      axisMap[3] = 3;
      axisMap[4] = 5;
      break;
    case 3:
      axisMap[3] = 4;
      axisMap[4] = 5;
      break;
    default:
      axisMap[3] = 3;
      axisMap[4] = 4;
      break;
  }
}

}  // namespace torvexan
