#include <gtest/gtest.h>

#include "state/plugin_settings.h"

namespace torvexan::testing {
namespace {

TEST(PluginSettingsTest, DefaultsBeforeAnyFileIsLoaded) {
  const PluginSettings p;
  EXPECT_EQ(p.XPullOff, 5.0);
  EXPECT_EQ(p.BPullOff, 5.0);
  EXPECT_EQ(p.SpindleRatio, 1.0f);
  EXPECT_EQ(p.JogBufSize, 50u);
  EXPECT_TRUE(p.HomeTwice);
  EXPECT_FALSE(p.MPGDisable);
  EXPECT_FALSE(p.MultiStep);
  EXPECT_EQ(std::vector<int>(p.AxisMap, p.AxisMap + 5), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(p.SpindleSpeed, 15000.0f);
  EXPECT_EQ(p.FeedRate, 500.0f);
  EXPECT_EQ(p.Jerk, 1000.0);
  EXPECT_EQ(p.OutputPin, 0);
  EXPECT_EQ(p.ZDeepth, 0);
  EXPECT_FALSE(p.hasSettingsPath);
}

TEST(PluginSettingsTest, AxesMapCodeRoundTripsAndOddPairsCountAsAB) {
  int32_t map[kCardChannels] = {0, 1, 2, 4, 5};
  EXPECT_EQ(AxesMapCode(map), 3);
  map[3] = 3;
  EXPECT_EQ(AxesMapCode(map), 2);
  map[4] = 4;
  EXPECT_EQ(AxesMapCode(map), 1);
  map[3] = 0;
  map[4] = 0;
  EXPECT_EQ(AxesMapCode(map), 1);
  map[3] = 2147483647;
  map[4] = 2147483647;
  EXPECT_EQ(AxesMapCode(map), 1);
  for (int code = 0; code <= 4; ++code) {
    ApplyAxesMapCode(code, map);
    EXPECT_EQ(AxesMapCode(map), (code >= 1 && code <= 3) ? code : 1);
  }
  ApplyAxesMapCode(2, map);
  EXPECT_EQ(map[3], 3);
  EXPECT_EQ(map[4], 5);
}

}  // namespace
}  // namespace torvexan::testing
