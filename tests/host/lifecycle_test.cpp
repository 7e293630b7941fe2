// Start-up and stop of the plug-in as the host drives it, and hosts that call out of order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/fake_platform.h"
#include "support/host_world.h"

namespace torvexan::testing {
namespace {

class Lifecycle : public ::testing::Test {
 protected:
  FakePlatform fake;
  HostWorld world;
  Plugin plugin{fake.platform()};
  MenuBarModel otherMenu{};
};

TEST_F(Lifecycle, SetProNameKeepsItsOwnCopyOfThePathAndAnswersTheNameText) {
  char path[] = "/tmp/profile.xml";
  EXPECT_STREQ(plugin.SetProName(path), "Quorvanta Motion Card Plugins V2.0");
  path[0] = 'X';
  EXPECT_EQ(plugin.state().settings.settingsPath, "/tmp/profile.xml");
  EXPECT_STREQ(plugin.SetProName(nullptr), "Quorvanta Motion Card Plugins V2.0");
  EXPECT_EQ(plugin.state().settings.settingsPath, "/tmp/profile.xml");
}

TEST_F(Lifecycle, InitControlBindsRecordsAndTakesOneMenuId) {
  world.frame->MenuFlag = 7;
  HostCallbacks::MenuRangeCalls() = 0;
  plugin.SetGetMenuRange(&HostCallbacks::MenuRange);
  EXPECT_TRUE(plugin.InitControl(world.machine.get(), world.doubles.get(), world.control.get(),
                                 world.frame.get()));
  EXPECT_EQ(plugin.state().host.machine, world.machine.get());
  EXPECT_EQ(plugin.state().host.frame, world.frame.get());
  EXPECT_EQ(plugin.state().host.PluginMenuId, 3001);
  EXPECT_EQ(HostCallbacks::MenuRangeCalls(), 1);
  EXPECT_EQ(world.frame->MenuFlag, 0);
}

TEST_F(Lifecycle, PostInitControlWritesStartupValuesAndCreatesTheSession) {
  plugin.state().settings.FeedRate = 600.0f;
  plugin.state().motion.StepRemainders[3] = 0.25;
  StartPlugin(plugin, world);
  const HostControl& c = *world.control;
  EXPECT_EQ(c.FeedPerSecond, 10.0);
  EXPECT_EQ(c.SpindleSpeedLimit, 15000.0);
  EXPECT_EQ(c.SpindleMaxSpeed, 15000.0);
  for (double limit : c.RateLimits) EXPECT_EQ(limit, 200000.0);
  EXPECT_EQ(c.CycleSeconds, 0.005);
  EXPECT_EQ(c.CycleRate, 200);
  EXPECT_EQ(c.HostOptionA, 1);
  EXPECT_EQ(c.HostOptionB, 1);
  EXPECT_EQ(c.HostOptionC, 1);
  EXPECT_EQ(c.HostOptionD, 0);
  EXPECT_EQ(plugin.state().motion.StepRemainders[3], 0.0);
  ASSERT_NE(plugin.state().session, nullptr);
  EXPECT_EQ(fake.net.startupCalls, 1);
}

TEST_F(Lifecycle, MenuItemGoesIntoTheEnglishPluginMenu) {
  MenuBarModel pluginMenu{};
  world.AddMenu("File", &otherMenu);
  world.AddMenu("PlugIn Control", &pluginMenu);
  StartPlugin(plugin, world);
  ASSERT_EQ(pluginMenu.count, 1);
  EXPECT_STREQ(pluginMenu.items[0].text, "QvLorn5");
  EXPECT_EQ(pluginMenu.items[0].id, 3001u);
  EXPECT_EQ(otherMenu.count, 0);
}

TEST_F(Lifecycle, MenuItemGoesIntoTheChinesePluginMenuOnlyTheFirstMatchAndIgnoresCase) {
  MenuBarModel wrongCase{}, chinese{}, second{};
  world.AddMenu("Plugin Control", &wrongCase);
  world.AddMenu("\xB2\xE5\xBC\xFE\xBF\xD8\xD6\xC6", &chinese);
  world.AddMenu("PlugIn Control", &second);
  StartPlugin(plugin, world);
  EXPECT_EQ(wrongCase.count, 0);
  ASSERT_EQ(chinese.count, 1);
  EXPECT_STREQ(chinese.items[0].text, "Quorvanta Motion Card");
  EXPECT_EQ(second.count, 0);
}

TEST_F(Lifecycle, NoPluginMenuMeansNoItemAndStartUpGoesOn) {
  world.AddMenu("File", &otherMenu);
  StartPlugin(plugin, world);
  EXPECT_EQ(otherMenu.count, 0);
  EXPECT_NE(plugin.state().session, nullptr);
}

TEST_F(Lifecycle, SecondPostInitControlKeepsSessionResetsStateAndAddsNoSecondItem) {
  MenuBarModel pluginMenu{};
  world.AddMenu("PlugIn Control", &pluginMenu);
  StartPlugin(plugin, world);
  CardSession* session = plugin.state().session.get();
  PluginState& s = plugin.state();
  s.requests.RequestFlags = 0x2004;
  s.motion.MotionMode = kDwellWait;
  s.motion.MotionStep = 7;
  s.link.LinkStep = 4;
  EXPECT_EQ(plugin.PostInitControl(), 0);
  EXPECT_EQ(s.session.get(), session);
  EXPECT_EQ(s.requests.RequestFlags, 0u);
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(s.motion.MotionStep, 0);
  EXPECT_EQ(s.link.LinkStep, 0);
  EXPECT_EQ(pluginMenu.count, 1);
  EXPECT_EQ(fake.net.startupCalls, 1);
}

TEST_F(Lifecycle, ConfigWithoutSessionShowsTheDriverErrorBox) {
  plugin.Config();
  ASSERT_EQ(fake.messageBox.shown.size(), 1u);
  EXPECT_EQ(fake.messageBox.shown[0].first, "Device driver loading error.");
  EXPECT_EQ(fake.messageBox.shown[0].second, "ERROR");
}

TEST_F(Lifecycle, StopPlugStopsTheSessionAndLeavesThePointerEmpty) {
  StartPlugin(plugin, world);
  plugin.Update();
  ASSERT_EQ(fake.timer.running.size(), 1u);
  plugin.StopPlug();
  EXPECT_EQ(plugin.state().session, nullptr);
  EXPECT_EQ(fake.net.cleanupCalls, 1);
  EXPECT_TRUE(fake.timer.running.empty()) << "no timer may call into an unloaded library";
  plugin.StopPlug();
  EXPECT_EQ(fake.net.cleanupCalls, 1);
  plugin.Config();
  EXPECT_EQ(fake.messageBox.shown.size(), 1u);
}

TEST_F(Lifecycle, StopPlugReportsASaveThatWroteNothingOnOneDebugLine) {
  char pattern[] = "/tmp/lifecycle_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path folder = pattern;
  const std::string path = (folder / "profile.xml").string();
  std::ofstream(path, std::ios::binary) << "<Profile><Torvexan></Profile>";
  StartPlugin(plugin, world, path.c_str());
  ::testing::internal::CaptureStderr();
  plugin.StopPlug();
  const std::string debugOutput = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(debugOutput,
            "Torvexan: settings not saved to " + path + ": the file is not well-formed XML\n");

  // A save that went through says nothing.
  Plugin second{fake.platform()};
  std::ofstream(path, std::ios::binary) << "<Profile/>";
  StartPlugin(second, world, path.c_str());
  ::testing::internal::CaptureStderr();
  second.StopPlug();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  std::filesystem::remove_all(folder);
}

TEST_F(Lifecycle, EntryPointsBeforeInitControlDoNothing) {
  plugin.Update();
  plugin.Notify(0xFFFF);
  plugin.DoDwell(1.0);
  plugin.Reset();
  plugin.JogOn(0, 0, 1.0);
  plugin.JogOff(0);
  plugin.Purge(1);
  plugin.Probe();
  plugin.Home(0);
  EXPECT_EQ(plugin.PostInitControl(), 0);
  plugin.OnTimer(nullptr, 1);
  plugin.StopPlug();
  EXPECT_EQ(plugin.state().session, nullptr);
  EXPECT_EQ(fake.timer.starts, 0);
  EXPECT_EQ(fake.net.startupCalls, 0);
}

TEST_F(Lifecycle, EntryPointsBetweenInitControlAndPostInitControlDoNothing) {
  plugin.InitControl(world.machine.get(), world.doubles.get(), world.control.get(),
                     world.frame.get());
  plugin.Update();
  plugin.DoDwell(1.0);
  plugin.Notify(0xFFFF);
  plugin.Purge(1);
  EXPECT_EQ(plugin.state().motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(plugin.state().requests.RequestFlags, 0u);
  EXPECT_EQ(world.machine->Dwelling, 0);
  EXPECT_EQ(fake.timer.starts, 0);
}

TEST_F(Lifecycle, InitControlWithMissingRecordsOrMenuCallbackIsRefusedSafely) {
  EXPECT_FALSE(
      plugin.InitControl(nullptr, world.doubles.get(), world.control.get(), world.frame.get()));
  EXPECT_EQ(plugin.PostInitControl(), 0);
  EXPECT_EQ(plugin.state().session, nullptr);
  // Without a menu-range callback the plug-in binds but takes no menu id and adds no item.
  MenuBarModel pluginMenu{};
  world.AddMenu("PlugIn Control", &pluginMenu);
  EXPECT_TRUE(plugin.InitControl(world.machine.get(), world.doubles.get(), world.control.get(),
                                 world.frame.get()));
  plugin.PostInitControl();
  EXPECT_EQ(pluginMenu.count, 0);
  EXPECT_NE(plugin.state().session, nullptr);
}

TEST_F(Lifecycle, EntryPointsAfterStopPlugDoNothing) {
  StartPlugin(plugin, world);
  plugin.StopPlug();
  plugin.Update();
  plugin.Reset();
  plugin.Purge(3);
  plugin.Notify(3);
  plugin.DoDwell(2.0);
  EXPECT_EQ(plugin.PostInitControl(), 0);
  EXPECT_EQ(plugin.state().session, nullptr);
  EXPECT_EQ(fake.timer.starts, 0);
  EXPECT_EQ(world.machine->Dwelling, 0);
  // A timer tick that arrives late stops its timer and touches nothing.
  fake.timer.running.push_back(55);
  plugin.OnTimer(nullptr, 55);
  EXPECT_TRUE(fake.timer.running.empty());
}

}  // namespace
}  // namespace torvexan::testing
