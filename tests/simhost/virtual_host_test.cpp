// The host's side of the plug-in's life: call order, callbacks, the job loop around the
// queue, dwells and the end of a job, on a recording fake plug-in and virtual time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "fake_plugin.h"
#include "host/entry_points.h"
#include "platform/dialog_model.h"
#include "platform/menu_model.h"
#include "sim/host/direct_plugin_table.h"
#include "sim/host/host_callbacks.h"
#include "sim/host/host_loop.h"
#include "sim/host/stdout_capture.h"

namespace torvexan::sim::testing {
namespace {

std::vector<std::string> Strings(std::initializer_list<const char*> names) {
  return std::vector<std::string>(names.begin(), names.end());
}

struct StatusLog {
  std::vector<std::string> texts;
  const std::unique_ptr<JobDriver>* driver = nullptr;  // the job's, once it runs
  static void Sink(void* context, const char* text) {
    auto* self = static_cast<StatusLog*>(context);
    self->texts.emplace_back(text);
    if (self->driver != nullptr && *self->driver) {
      (*self->driver)->NoteStatusText(FakePlugin::W().nowMs, text);
    }
  }
};

class HostRun : public ::testing::Test {
 protected:
  HostRun() {
    HostCallbacks::ResetMenuIds();
    log.driver = &driver;
    HostCallbacks::SetStatusSink(&StatusLog::Sink, &log);
  }
  ~HostRun() override { HostCallbacks::SetStatusSink(nullptr, nullptr); }

  // Runs the host loop on virtual time until the job ends or limitMs passes.
  JobDriver::Phase RunJob(const char* text, uint64_t limitMs = 120000) {
    job = ParseJob(text);
    EXPECT_TRUE(job.errors.empty());
    std::string error;
    EXPECT_TRUE(host.Start("/tmp/profile.xml", &error)) << error;
    DriverTiming timing;
    timing.startupMs = 200;
    timing.stallMs = 2000;
    driver = std::make_unique<JobDriver>(job, setup, host, timing);
    driver->StreamMovesSinceReread(&sinceReread);
    HostLoop loop(host, *driver);
    FakePlugin::World& w = FakePlugin::W();
    while (!driver->finished() && w.nowMs < limitMs) {
      const int wait = loop.RunOnce(w.nowMs);
      w.nowMs += static_cast<uint64_t>(std::max(wait, 1));
    }
    host.Stop();
    return driver->phase();
  }

  StatusLog log;
  PluginTable table = FakePlugin::Table();
  HostRecordsOwner records{DefaultMachine()};
  VirtualHost host{table, records};
  JobSetup setup;
  Job job;
  // The moves the driver streamed after a probe changed the job.
  struct Collect final : CheckObserver {
    std::vector<PathSegment> moves;
    void Move(const PathSegment& s) override { moves.push_back(s); }
  } sinceReread;
  std::unique_ptr<JobDriver> driver;
};

TEST_F(HostRun, StartsInTheHostsOrderAndStopsLast) {
  std::string error;
  ASSERT_TRUE(host.Start("/tmp/profile.xml", &error));
  EXPECT_EQ(FakePlugin::W().calls,
            Strings({"SetProName", "SetDoButton", "SetSetDRO", "SetGetDRO", "SetGetLED",
                     "SetSetLED", "SetCode", "SetGetMenuRange", "InitControl", "PostInitControl"}));
  EXPECT_EQ(FakePlugin::W().settingsPath, "/tmp/profile.xml");
  EXPECT_EQ(FakePlugin::W().machine, &records.machine());
  EXPECT_EQ(FakePlugin::W().control, &records.control());
  EXPECT_EQ(FakePlugin::W().frame->MainWindow->items[1].text, std::string("PlugIn Control"));
  EXPECT_EQ(FakePlugin::W().menuId, kFirstPluginCommandId);
  EXPECT_EQ(host.pluginName(), "fake plug-in");
  EXPECT_EQ(log.texts, Strings({"(fake ready)"}));
  host.Stop();
  host.Stop();
  EXPECT_EQ(std::count(FakePlugin::W().calls.begin(), FakePlugin::W().calls.end(), "StopPlug"), 1);
}

TEST_F(HostRun, MenuIdsAreHandedOutInRanges) {
  EXPECT_EQ(HostCallbacks::MenuRange(3), kFirstPluginCommandId);
  EXPECT_EQ(HostCallbacks::MenuRange(1), kFirstPluginCommandId + 3);
}

TEST_F(HostRun, RefusedBindingIsReportedAndNeverStopped) {
  FakePlugin::W().initResult = false;
  std::string error;
  EXPECT_FALSE(host.Start("/tmp/profile.xml", &error));
  EXPECT_FALSE(error.empty());
  host.Stop();
  EXPECT_EQ(std::count(FakePlugin::W().calls.begin(), FakePlugin::W().calls.end(), "StopPlug"), 0);
}

TEST_F(HostRun, JobEndsWithTheCardWhereTheHostCommandedIt) {
  ASSERT_EQ(RunJob("G1 F1500 X12.3456 Y-7.0001\nG0 Z3 A45.5\nG1 X0 Y0 Z0 A0 F900\n"),
            JobDriver::Phase::kDone);
  for (int a = 0; a < kHostAxisCount; ++a) {
    EXPECT_EQ(records.machine().Axes[a].PositionCounts, driver->Expected(a)) << a;
  }
  EXPECT_EQ(driver->Expected(0), 0);
  EXPECT_EQ(driver->stats().rowsTaken, driver->stats().slicesPlanned);
  EXPECT_EQ(records.control().QueueDrain, 1);
  // Update keeps the plug-in's timer alive and StopPlug is the last call.
  const auto& calls = FakePlugin::W().calls;
  EXPECT_NE(std::find(calls.begin(), calls.end(), "Update"), calls.end());
  EXPECT_EQ(calls.back(), "StopPlug");
}

TEST_F(HostRun, TheTailOfTheQueueWaitsForQueueDrain) {
  // 12 slices are fewer than a batch; without QueueDrain the fake (like the plug-in) holds them.
  ASSERT_EQ(RunJob("G1 F600 X0.02\n"), JobDriver::Phase::kDone);
  EXPECT_EQ(records.machine().Axes[0].PositionCounts, 20);
}

TEST_F(HostRun, DwellIsHandedOverOnlyAfterTheQueueRanEmpty) {
  ASSERT_EQ(RunJob("G1 F3000 X40\nG4 P0.75\nG1 X0\nG4 P0\n"), JobDriver::Phase::kDone);
  const FakePlugin::World& w = FakePlugin::W();
  EXPECT_EQ(w.dwellCalls, 2);
  EXPECT_TRUE(w.dwellQueueWasEmpty);
  EXPECT_EQ(w.lastDwellSeconds, 0.0);
  EXPECT_EQ(driver->stats().dwellsDone, 2);
  EXPECT_EQ(records.machine().Axes[0].PositionCounts, 0);
  // No slice of the move after the dwell was taken before the dwell ended.
  EXPECT_EQ(w.tagsTaken.size(), static_cast<size_t>(driver->stats().slicesPlanned));
  EXPECT_TRUE(std::is_sorted(w.tagsTaken.begin(), w.tagsTaken.end()));
}

TEST_F(HostRun, JobCoordinatesAreTheMachinesWhereverTheCardStoodAtTheStart) {
  records.machine().Axes[0].PositionCounts = 5000;
  records.machine().Axes[2].PositionCounts = -300;
  ASSERT_EQ(RunJob("G1 F1200 X1 Z1\nG91 G1 X0.5\n"), JobDriver::Phase::kDone);
  EXPECT_EQ(driver->Expected(0), 1500);
  EXPECT_EQ(driver->Expected(2), 1000);
  EXPECT_EQ(records.machine().Axes[0].PositionCounts, 1500);
}

TEST_F(HostRun, APluginThatTakesNothingStallsTheJob) {
  FakePlugin::W().consuming = false;
  EXPECT_EQ(RunJob("G1 F1200 X10\n"), JobDriver::Phase::kStalled);
  EXPECT_NE(driver->stallReason().find("took no queue entries"), std::string::npos);
  EXPECT_NE(driver->stallReason().find("line 1"), std::string::npos);
}

bool HasEvent(const JobDriver& driver, const std::string& words) {
  for (const SafetyEvent& e : driver.safety().events()) {
    if (e.text.find(words) != std::string::npos) return true;
  }
  return false;
}

TEST_F(HostRun, AnEmergencyStopEndsTheJobAtOnceWhereTheMachineStood) {
  FakePlugin::W().estopAtMs = 1000;  // early in the first move
  ASSERT_EQ(RunJob("G1 F1500 X40\nM3 S1000\nG1 X0\n"), JobDriver::Phase::kStopped);
  ASSERT_EQ(driver->stops().size(), 1u);
  const StopRecord& stop = driver->stops()[0];
  EXPECT_EQ(stop.line, 1);
  EXPECT_EQ(stop.path, StopRecord::Path::kOnPath);
  EXPECT_EQ(stop.entriesAfterStop, 0);
  EXPECT_FALSE(stop.resumed);
  const int32_t x = records.machine().Axes[0].PositionCounts;
  EXPECT_GT(x, 0);
  EXPECT_LT(x, 40000);
  EXPECT_EQ(stop.at[0], x);
  EXPECT_NEAR(stop.commanded[0], x, 1.0);
  // The spindle went off and the M3 of the next line never went out; the queue is empty.
  EXPECT_EQ(FakePlugin::W().notified, std::vector<int>{4});
  EXPECT_EQ(records.machine().MoveQueueRead, records.machine().MoveQueueWrite);
  EXPECT_TRUE(HasEvent(*driver, "EStop raised by the plug-in"));
}

TEST_F(HostRun, AfterAResetTheAxesAreReferencedAgainAndTheJobGoesOnFromTheLineThatStopped) {
  setup.resetAfterStop = true;
  FakePlugin::W().estopAtMs = 1300;  // in the move of line 2
  ASSERT_EQ(RunJob("G28.1 X0\nG1 F1500 X40\nM3 S1000\nG1 X0\n"), JobDriver::Phase::kDone);
  ASSERT_EQ(driver->stops().size(), 1u);
  EXPECT_EQ(driver->stops()[0].line, 2);
  EXPECT_GT(driver->stops()[0].at[0], 0);
  EXPECT_LT(driver->stops()[0].at[0], 40000);
  EXPECT_TRUE(driver->stops()[0].resumed);
  ASSERT_EQ(driver->references().size(), 2u);
  EXPECT_TRUE(driver->references()[1].done);
  EXPECT_EQ(driver->references()[1].line, 2);
  EXPECT_EQ(FakePlugin::W().notified, (std::vector<int>{4, 3}));
  EXPECT_EQ(records.machine().Axes[0].PositionCounts, 0);
  EXPECT_EQ(driver->Expected(0), 0);
  EXPECT_TRUE(HasEvent(*driver, "RESET by the operator"));
}

// A stop a minute's run can leave far from the run's end: the planner has read ahead of the
// card, and the job goes on with the moves it held from the card's line, then with the
// interpreter's, none left out and none gone back to. The lines name X only, and Y now and
// then: the interpreter's moves go on from where it had read to, not from where the machine
// stopped.
TEST_F(HostRun, AResetLongIntoARunGoesOnWithTheMovesHeldThenTheInterpretersRest) {
  setup.resetAfterStop = true;
  constexpr int kMoves = 6000;  // 0.5 mm each at 50 mm/s, nearly straight: a minute
  std::string text = "G28.1 X0\nG1 F3000\n";
  char line[64];
  for (int i = 1; i <= kMoves; ++i) {
    if (i % 100 == 0) {
      std::snprintf(line, sizeof line, "X%.1f Y%.3f\n", i * 0.5, i * 0.0001);
    } else {
      std::snprintf(line, sizeof line, "X%.1f\n", i * 0.5);
    }
    text += line;
  }
  FakePlugin::W().estopAtMs = 10000;
  ASSERT_EQ(RunJob(text.c_str(), 300000), JobDriver::Phase::kDone);
  ASSERT_EQ(driver->stops().size(), 1u);
  const StopRecord& stop = driver->stops()[0];
  EXPECT_TRUE(stop.resumed);
  EXPECT_EQ(stop.path, StopRecord::Path::kOnPath);
  EXPECT_GT(stop.line, 3);
  EXPECT_LT(stop.line, kMoves / 2) << "the stop came while the run was still being read";
  EXPECT_EQ(records.machine().Axes[0].PositionCounts, kMoves * 500);
  EXPECT_EQ(records.machine().Axes[1].PositionCounts, 600);
  // The fake runs what it takes: from the first row to the last the lines never go back and
  // none is left out (the moves are lines 3 ..), and Y only ever rises.
  const FakePlugin::World& w = FakePlugin::W();
  EXPECT_TRUE(std::is_sorted(w.tagsTaken.begin(), w.tagsTaken.end()));
  EXPECT_TRUE(std::is_sorted(w.yTaken.begin(), w.yTaken.end()));
  std::vector<int32_t> lines = w.tagsTaken;
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  ASSERT_EQ(lines.size(), static_cast<size_t>(kMoves));
  EXPECT_EQ(lines.front(), 3);
  EXPECT_EQ(lines.back(), kMoves + 2);
  EXPECT_NE(std::find(lines.begin(), lines.end(), stop.line), lines.end());
  // The interpreter's moves joined the held ones in the same run: no rest between them.
  EXPECT_EQ(w.drains, 1);
}

TEST_F(HostRun, AnAbortedReferencingIsNoReferenceAndNothingMovesAfterIt) {
  FakePlugin::W().homeAborts = true;
  ASSERT_EQ(RunJob("G28.1 X0\nG1 F600 X5\n"), JobDriver::Phase::kStopped);
  ASSERT_EQ(driver->references().size(), 1u);
  EXPECT_TRUE(driver->references()[0].aborted);
  EXPECT_FALSE(driver->references()[0].done);
  EXPECT_NE(driver->stops()[0].cause.find("referencing aborted"), std::string::npos);
  EXPECT_EQ(driver->stats().slicesPlanned, 0);
  EXPECT_EQ(records.machine().Axes[0].PositionCounts, 0);
  // The plug-in's text is on the timeline, as it sent it.
  EXPECT_TRUE(HasEvent(*driver, "(fake homing aborted)"));
}

TEST_F(HostRun, LinesAfterAProbeGoWhereItTripped) {
  // The fake's surface is at machine Z -12.5, so Z -10.5 in G54; the check before the run
  // assumed the target, Z -18.
  ASSERT_EQ(RunJob("G10 L2 P1 Z-2\nG38.2 Z-20 F100\nG0 Z[#2002 + 3] X[#5063]\n"),
            JobDriver::Phase::kDone);
  EXPECT_EQ(driver->Expected(2), -9500);
  EXPECT_EQ(driver->Expected(0), -10500);
  EXPECT_EQ(records.machine().Axes[2].PositionCounts, -9500);
  EXPECT_EQ(records.machine().Axes[0].PositionCounts, -10500);
  // What ran after the probe, for the plot: the move as commanded, not as the check assumed.
  EXPECT_EQ(driver->movesBeforeReread(), 0u);
  EXPECT_EQ(driver->movesSinceReread(), 1u);
  ASSERT_EQ(sinceReread.moves.size(), 1u);
  EXPECT_DOUBLE_EQ(sinceReread.moves[0].target[2], -9.5);
}

TEST_F(HostRun, WhatCannotRunWithTheTripPointEndsTheJobBeforeAnythingMoreMoves) {
  // Both lines read well with the target (-20); with the trip point (-12.5) line 2 divides by
  // zero and line 3's target lies beyond the steps the card can count.
  for (const char* line :
       {"G1 F100 X[1 / [#2002 + 12.5]]\n", "G1 F100 X[10 ** 12 * [#2002 + 20]]\n"}) {
    SCOPED_TRACE(line);
    FakePlugin::Table();
    std::string text = "G38.2 Z-20 F100\n";
    text += line;
    text += "G1 X5\n";
    ASSERT_EQ(RunJob(text.c_str()), JobDriver::Phase::kFailed);
    EXPECT_NE(driver->stallReason().find("line 2: "), std::string::npos) << driver->stallReason();
    EXPECT_NE(driver->stallReason().find("the probe on line 1"), std::string::npos);
    EXPECT_EQ(driver->stats().slicesPlanned, 0);
    EXPECT_EQ(records.machine().Axes[0].PositionCounts, 0);
  }
}

TEST_F(HostRun, ALineThatCannotBeReadWithTheTripPointComesFirst) {
  // With the trip point line 2's target lies beyond the card's count, which stops the check
  // at the dwell; line 4 divides by zero, found by reading on past where the check stopped,
  // and told first, as a line that cannot be read is before anything moves.
  ASSERT_EQ(RunJob("G38.2 Z-20 F100\n"
                   "G1 F100 X[10 ** 12 * [#2002 + 20]]\n"
                   "G4 P0.5\n"
                   "G1 X[1 / [#2002 + 12.5]]\n"),
            JobDriver::Phase::kFailed);
  EXPECT_NE(driver->stallReason().find("line 4: "), std::string::npos) << driver->stallReason();
  EXPECT_NE(driver->stallReason().find("division by zero"), std::string::npos);
  EXPECT_EQ(driver->stats().slicesPlanned, 0);
}

TEST_F(HostRun, UpdateComesAtTheHostsRate) {
  FakePlugin::W().consuming = false;
  std::string error;
  ASSERT_TRUE(host.Start("/tmp/profile.xml", &error));
  job = ParseJob("");
  driver = std::make_unique<JobDriver>(job, JobSetup{}, host, DriverTiming{});
  HostLoop loop(host, *driver);
  FakePlugin::World& w = FakePlugin::W();
  for (w.nowMs = 0; w.nowMs < 1000;
       w.nowMs += static_cast<uint64_t>(std::max(loop.RunOnce(w.nowMs), 1))) {
  }
  EXPECT_EQ(loop.updates(), 10);
  // A pass that comes far too late brings one Update, not a burst of them.
  w.nowMs += 1000;
  loop.RunOnce(w.nowMs);
  loop.RunOnce(w.nowMs + 1);
  EXPECT_EQ(loop.updates(), 11);
}

// The real plug-in linked in: the host's start-up puts its item into the host's menu.
TEST(DirectPlugin, StartsAndStopsThroughItsExportedFunctions) {
  const PluginTable table = DirectPluginTable();
  EXPECT_EQ(MissingEntries(table), "");
  HostCallbacks::ResetMenuIds();
  HostRecordsOwner records(DefaultMachine());
  VirtualHost host(table, records);
  std::string error;
  const std::string settings = ::testing::TempDir() + "simhost_direct_settings.xml";
  ASSERT_TRUE(host.Start(settings, &error)) << error;
  EXPECT_EQ(host.pluginName(), "Quorvanta Motion Card Plugins V2.0");
  EXPECT_EQ(host.PluginMenuItem(), "QvLorn5");
  std::string label;
  uint32_t id = 0;
  ASSERT_TRUE(records.mainWindow().LastPluginItem(&label, &id));
  EXPECT_EQ(id, static_cast<uint32_t>(kFirstPluginCommandId));
  EXPECT_EQ(records.control().CycleSeconds, 0.005);
  std::string stopOutput;
  host.Stop(&stopOutput);
  std::remove(settings.c_str());
  // No tick ran: the plug-in never looked for a card.
  EXPECT_EQ(stopOutput,
            "link counters: exchanges 0, resends 0, stale replies 0, rejected replies 0, held "
            "replies 0, link "
            "losses 0, discovery passes 0, discovery requests 0, usb opens 0, usb connects 0\n");
  std::printf("after the capture\n");  // standard output is back where it was
}

// A host without Windows dialogs hands over its dialog model; Config opens the dialog there.
TEST(DirectPlugin, ConfigOpensInTheDialogModelTheHostHandedOver) {
  HostCallbacks::ResetMenuIds();
  HostRecordsOwner records(DefaultMachine());
  VirtualHost host(DirectPluginTable(), records);
  DialogModel dialog;
  std::string seen;
  dialog.SetModalLoop(
      [](void* text, DialogModel& d) {
        *static_cast<std::string*>(text) = std::string(d.caption()) + " / " + d.Text(1001);
        d.Click(2);  // CANCEL
      },
      &seen);
  std::string error;
  ASSERT_TRUE(host.Start(::testing::TempDir() + "simhost_dialog_settings.xml", &error)) << error;
  EXPECT_EQ(host.Config(), 0) << "no model yet: the dialog ends at once";
  EXPECT_EQ(seen, "");
  TorvexanSetDialogModel(&dialog);
  EXPECT_EQ(host.Config(), 0);
  EXPECT_EQ(seen, "Quorvanta Motion Card Configuration / Connecting ...");
  EXPECT_FALSE(dialog.open());
  TorvexanSetDialogModel(nullptr);
  std::string stopOutput;
  host.Stop(&stopOutput);
}

TEST(StdoutCapture, CatchesBothStdioAndRawWritesAndRestores) {
  std::printf("printed before the capture, still buffered");
  StdoutCapture capture;
  ASSERT_TRUE(capture.Begin());
  ASSERT_EQ(write(STDOUT_FILENO, "raw\n", 4), 4);
  std::printf("buffered");
  EXPECT_FALSE(capture.Begin()) << "one capture at a time";
  EXPECT_EQ(capture.End(), "raw\nbuffered");
  EXPECT_EQ(capture.End(), "") << "ended once";
  std::printf("\n");
}

}  // namespace
}  // namespace torvexan::sim::testing
