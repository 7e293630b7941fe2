// The configuration dialog on the dialog model: what it shows when it opens, the link-state
// animation and texts per card model, the inputs view, and what SAVE, CANCEL and the close box
// leave in the record and in the settings file.
#include "config/configuration_dialog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "config/settings_file.h"
#include "config/settings_table.h"
#include "link/card_session.h"
#include "platform/posix/dialog_model_runner.h"
#include "support/fake_platform.h"

namespace torvexan {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProfile =
    "<?xml version=\"1.0\"?>\r\n<profile>\r\n  <Other>keep me</Other>\r\n"
    "<Torvexan><SpindleRatio>0.5</SpindleRatio><OutputPin>2</OutputPin>"
    "<AxesMap>2</AxesMap></Torvexan>\r\n</profile>\r\n";

class ConfigurationDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedLocale_ = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C.UTF-8");
    char pattern[] = "/tmp/config_dialog_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    settings_.settingsPath = (folder_ / "profile.xml").string();
    settings_.hasSettingsPath = true;
    std::ofstream(settings_.settingsPath, std::ios::binary) << kProfile;
    LoadSettings(settings_);
    ResetCardSession(session_);
    std::strcpy(session_.serialText, "02:54:56:00:00:01");
    runner_.SetModel(&dialog_);
    dialog_.SetModalLoop(&ConfigurationDialogTest::Play, this);
  }
  void TearDown() override {
    fs::remove_all(folder_);
    std::setlocale(LC_CTYPE, savedLocale_.c_str());
  }

  // Opens the dialog; the user's actions run inside its modal loop.
  int Open(std::function<void(DialogModel&)> user) {
    user_ = std::move(user);
    return RunConfigurationDialog(&runner_, settings_, holder_, ticks_, &messageBox_);
  }
  static void Play(void* self, DialogModel& dialog) {
    static_cast<ConfigurationDialogTest*>(self)->user_(dialog);
  }

  void GoOnline(uint32_t cardType) {
    ApplyCardModel(session_, cardType);
    session_.online = 1;
  }

  std::string Profile() const {
    std::ifstream in(settings_.settingsPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  std::string savedLocale_;
  fs::path folder_;
  PluginSettings settings_;
  // As the plug-in holds its session.
  std::unique_ptr<CardSession> holder_ = std::make_unique<CardSession>();
  CardSession& session_ = *holder_;
  int32_t ticks_ = 0;
  DialogModel dialog_;
  DialogModelRunner runner_;
  testing::RecordingMessageBox messageBox_;
  std::function<void(DialogModel&)> user_;
};

TEST_F(ConfigurationDialogTest, OpensWithTheRecordTheCardIdentityAndTheConnectTimer) {
  settings_.HomeTwice = false;
  settings_.MultiStep = true;
  settings_.XPullOff = 1.25;
  settings_.BPullOff = -2.0;
  settings_.SpindleSpeed = 24000.0f;
  settings_.ZDeepth = -3;
  const int result = Open([](DialogModel& d) {
    EXPECT_EQ(d.resourceId(), 102);
    EXPECT_STREQ(d.caption(), "Quorvanta Motion Card Configuration");
    EXPECT_STREQ(d.Text(kStatusText), "Connecting ...") << "the template's text until a tick";
    EXPECT_STREQ(d.Text(kVersionText), "2.0");
    EXPECT_STREQ(d.Text(kFirmwareText), "Quorvanta Motion Card");
    EXPECT_STREQ(d.Text(kSerialText), "02:54:56:00:00:01");
    EXPECT_FALSE(d.Checked(kHomeTwiceBox));
    EXPECT_TRUE(d.Checked(kMultiStepBox));
    EXPECT_FALSE(d.Checked(kMpgDisableBox));
    EXPECT_STREQ(d.Text(kXPullOffEdit), "1.250");
    EXPECT_STREQ(d.Text(kBPullOffEdit), "-2.000");
    EXPECT_STREQ(d.Text(kCalibrationEdit), "0.500");
    EXPECT_STREQ(d.Text(kSpindleSpeedEdit), "24000.000");
    EXPECT_STREQ(d.Text(kFeedRateEdit), "500.000");
    EXPECT_STREQ(d.Text(kOutputPinEdit), "2");
    EXPECT_STREQ(d.Text(kZDeepthEdit), "-3");
    ASSERT_EQ(d.ListCount(kAxisMapList), 3);
    EXPECT_STREQ(d.ListItem(kAxisMapList, 0), "A,B");
    EXPECT_STREQ(d.ListItem(kAxisMapList, 1), "A,C");
    EXPECT_STREQ(d.ListItem(kAxisMapList, 2), "B,C");
    EXPECT_EQ(d.Selection(kAxisMapList), 1) << "AxesMap 2 in the file";
    for (int id : kInputBoxes) EXPECT_FALSE(d.Enabled(id)) << id;
    for (int id : kMpgAxisBoxes) EXPECT_FALSE(d.Enabled(id)) << id;
    EXPECT_FALSE(d.Enabled(kEStopBox));
    EXPECT_TRUE(d.Enabled(kCalibrationEdit));
    EXPECT_EQ(d.TimerPeriodMs(kConnectTimerId), 100u);
    EXPECT_EQ(d.RunningTimers(), 1);
    d.PressCloseBox();
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(dialog_.RunningTimers(), 0) << "the connect timer lives as long as the dialog";
}

TEST_F(ConfigurationDialogTest, AnimationCountsTicksAcrossDialogs) {
  Open([](DialogModel& d) {
    const auto status = [&d](int ticks) {
      for (int i = 0; i < ticks; ++i) d.FireTimer(kConnectTimerId);
      return std::string(d.Text(kStatusText));
    };
    EXPECT_EQ(status(1), "Connecting .");
    EXPECT_EQ(status(9), "Connecting .") << "counter 10";
    EXPECT_EQ(status(1), "Connecting ..") << "counter 11";
    EXPECT_EQ(status(9), "Connecting ..") << "counter 20";
    EXPECT_EQ(status(1), "Connecting ...") << "counter 21";
    EXPECT_EQ(status(9), "Connecting ...") << "counter 30";
    EXPECT_EQ(status(1), "Connecting .") << "31 ticks a cycle: back to 0";
    EXPECT_EQ(status(24), "Connecting ...") << "counter 24";
    EXPECT_STREQ(d.caption(), "Quorvanta Motion Card Configuration");
    d.Click(kCancelButton);
  });
  EXPECT_EQ(ticks_, 24);
  Open([](DialogModel& d) {
    EXPECT_STREQ(d.Text(kStatusText), "Connecting ...");
    d.FireTimer(kConnectTimerId);
    EXPECT_STREQ(d.Text(kStatusText), "Connecting ...") << "carried over: counter 25";
    for (int i = 0; i < 6; ++i) d.FireTimer(kConnectTimerId);
    EXPECT_STREQ(d.Text(kStatusText), "Connecting .") << "counter 0 again";
    d.PressCloseBox();
  });
}

TEST_F(ConfigurationDialogTest, OnlineCardNamesItsModelInStatusAndCaption) {
  const struct {
    uint32_t cardType;
    const char* status;
    const char* caption;
  } cases[] = {
      {kCardLorn4, "Lorn4 Connected", "Quorvanta LORN4 Motion Card Configuration"},
      {kCardLorn5, "Lorn5 Connected", "Quorvanta LORN5 Motion Card Configuration"},
      {kCardPell4, "Pell4 Connected", "Quorvanta Pell4 Motion Card Configuration"},
      {kCardPell5, "Pell5 Connected", "Quorvanta Pell5 Motion Card Configuration"},
      {9, "? Connected", "Quorvanta Motion Card Configuration"},
  };
  for (const auto& c : cases) {
    session_.cardType = c.cardType;
    session_.online = 1;
    Open([&c](DialogModel& d) {
      d.FireTimer(kConnectTimerId);
      EXPECT_STREQ(d.Text(kStatusText), c.status);
      EXPECT_STREQ(d.caption(), c.caption);
      d.PressCloseBox();
    });
  }
}

TEST_F(ConfigurationDialogTest, InputsViewFollowsTheCardAndMissingInputsNeverCheck) {
  GoOnline(kCardLorn4);
  Open([this](DialogModel& d) {
    EXPECT_FALSE(d.Checked(kInputBoxes[0]));
    session_.inputBits = 0xFFFF;  // every line active
    d.FireTimer(kConnectTimerId);
    for (int id : kInputBoxes) EXPECT_TRUE(d.Checked(id)) << id;
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(d.Checked(kMpgAxisBoxes[i])) << i;
    EXPECT_TRUE(d.Checked(kMpgX10Box));
    EXPECT_TRUE(d.Checked(kMpgX100Box));
    EXPECT_FALSE(d.Checked(kMpgAxisBoxes[4])) << "a Lorn4 has no fifth-axis selector";
    EXPECT_FALSE(d.Checked(kEStopBox)) << "a Lorn4 reports no emergency stop";
    session_.inputBits = 0x0005;
    d.FireTimer(kConnectTimerId);
    EXPECT_TRUE(d.Checked(kInputBoxes[0]));
    EXPECT_FALSE(d.Checked(kInputBoxes[1]));
    EXPECT_TRUE(d.Checked(kInputBoxes[2]));
    EXPECT_FALSE(d.Checked(kInputBoxes[7]));
    d.Click(kInputBoxes[1]);  // only displays: takes no clicks
    EXPECT_FALSE(d.Checked(kInputBoxes[1]));
    d.PressCloseBox();
  });
  GoOnline(kCardLorn5);
  session_.inputBits = static_cast<uint16_t>(session_.estopMask | session_.mpgAxisMask[4]);
  Open([](DialogModel& d) {
    EXPECT_TRUE(d.Checked(kEStopBox)) << "filled when the dialog opens";
    EXPECT_TRUE(d.Checked(kMpgAxisBoxes[4]));
    d.PressCloseBox();
  });
}

TEST_F(ConfigurationDialogTest, SaveStoresWhatLoadingWouldAndTheFieldsShowIt) {
  const int result = Open([](DialogModel& d) {
    d.Type(kCalibrationEdit, "0.05");
    d.Type(kOutputPinEdit, "9");
    d.Type(kXPullOffEdit, "  12.5mm");
    d.Type(kYPullOffEdit, "1e999");
    d.Type(kZPullOffEdit, "nan");
    d.Type(kFeedRateEdit, "fast");
    d.Type(kSpindleSpeedEdit, "-3");
    d.Type(kZDeepthEdit, "-7");
    d.Choose(kAxisMapList, 2);  // "B,C"
    d.Click(kHomeTwiceBox);     // the record's true becomes false
    d.Click(kMpgDisableBox);
    d.Click(kSaveButton);
    EXPECT_FALSE(d.open());
    EXPECT_STREQ(d.Text(kCalibrationEdit), "0.100");
    EXPECT_STREQ(d.Text(kOutputPinEdit), "0");
    EXPECT_STREQ(d.Text(kXPullOffEdit), "12.500");
    EXPECT_STREQ(d.Text(kYPullOffEdit), "5.000");
    EXPECT_STREQ(d.Text(kZPullOffEdit), "5.000");
    EXPECT_STREQ(d.Text(kSpindleSpeedEdit), "15000.000");
    EXPECT_EQ(d.Selection(kAxisMapList), 2);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(dialog_.RunningTimers(), 0);
  EXPECT_EQ(settings_.SpindleRatio, 0.1f) << "below the range: its bound";
  EXPECT_EQ(settings_.OutputPin, 0) << "a pin the card does not have: none";
  EXPECT_EQ(settings_.XPullOff, 12.5);
  EXPECT_EQ(settings_.YPullOff, 5.0) << "not finite: the default";
  EXPECT_EQ(settings_.ZPullOff, 5.0);
  EXPECT_EQ(settings_.FeedRate, 0.0f) << "text that is no number stores 0";
  EXPECT_EQ(settings_.SpindleSpeed, 15000.0f);
  EXPECT_EQ(settings_.ZDeepth, -7);
  EXPECT_FALSE(settings_.HomeTwice);
  EXPECT_TRUE(settings_.MPGDisable);
  EXPECT_FALSE(settings_.MultiStep);
  EXPECT_EQ(std::vector<int>(settings_.AxisMap, settings_.AxisMap + 5),
            (std::vector<int>{0, 1, 2, 4, 5}));

  const std::string file = Profile();
  EXPECT_NE(file.find("<SpindleRatio>0.100</SpindleRatio>"), std::string::npos) << file;
  EXPECT_NE(file.find("<OutputPin>0</OutputPin>"), std::string::npos) << file;
  EXPECT_NE(file.find("<AxesMap>3</AxesMap>"), std::string::npos) << file;
  EXPECT_NE(file.find("<XPullOff>12.500</XPullOff>"), std::string::npos) << file;
  EXPECT_NE(file.find("<YPullOff>5.000</YPullOff>"), std::string::npos) << file;
  EXPECT_NE(file.find("  <Other>keep me</Other>"), std::string::npos) << file;

  PluginSettings next;  // the next start finds what this session ran with
  next.settingsPath = settings_.settingsPath;
  next.hasSettingsPath = true;
  LoadSettings(next);
  for (const SettingRow& row : SettingsTable()) {
    EXPECT_EQ(row.get(next), row.get(settings_)) << row.key;
  }
}

// SAVE does not store a field silently as something else than typed: the user is told what was
// typed and what would be stored, and the dialog stays open until he accepts.
TEST_F(ConfigurationDialogTest, SaveTellsWhatIsNotStoredAsTypedAndWaitsForTheUser) {
  const PluginSettings before = settings_;
  const std::string profile = Profile();
  Open([this, &before, &profile](DialogModel& d) {
    d.Type(kXPullOffEdit, "abc");
    d.Type(kCalibrationEdit, "0.05");
    d.Type(kOutputPinEdit, "1.5");
    d.Type(kZDeepthEdit, " 12 ");  // spaces around a number are no fault
    d.Type(kFeedRateEdit, "");
    d.AnswerQuestions(false);
    d.Click(kSaveButton);
    ASSERT_TRUE(d.open()) << "Cancel goes back to the dialog";
    EXPECT_EQ(d.Questions(), 1);
    const std::string asked = d.LastQuestion();
    EXPECT_NE(asked.find("Home Setup, Axis X: \"abc\" is not a number; 0.000 will be stored."),
              std::string::npos)
        << asked;
    EXPECT_NE(asked.find("Spindle, Calibration: 0.05 is out of range; 0.100 will be stored."),
              std::string::npos)
        << asked;
    EXPECT_NE(asked.find("Laser Cutter, Output Pin: \"1.5\" is not a whole number; 1 will be "
                         "stored."),
              std::string::npos)
        << asked;
    EXPECT_NE(asked.find("initialization, Feedrate: \"\" is not a number; 0.000 will be stored."),
              std::string::npos)
        << asked;
    EXPECT_EQ(asked.find("Z Deepth"), std::string::npos) << asked;
    EXPECT_EQ(asked.find("Axis Y"), std::string::npos) << "unchanged fields are not named";
    EXPECT_STREQ(d.Text(kXPullOffEdit), "abc") << "the typed text stays to be put right";
    EXPECT_EQ(settings_.XPullOff, before.XPullOff) << "nothing stored before the user accepts";
    EXPECT_EQ(settings_.SpindleRatio, before.SpindleRatio);
    EXPECT_EQ(Profile(), profile) << "nothing saved before the user accepts";

    d.Type(kXPullOffEdit, "3");
    d.Type(kFeedRateEdit, "250");
    d.AnswerQuestions(true);
    d.Click(kSaveButton);
    EXPECT_EQ(d.Questions(), 2);
    EXPECT_EQ(std::string(d.LastQuestion()).find("Axis X"), std::string::npos);
    EXPECT_FALSE(d.open()) << "OK stores, saves and closes";
  });
  EXPECT_EQ(settings_.XPullOff, 3.0);
  EXPECT_EQ(settings_.SpindleRatio, 0.1f);
  EXPECT_EQ(settings_.OutputPin, 1);
  EXPECT_EQ(settings_.ZDeepth, 12);
  EXPECT_EQ(settings_.FeedRate, 250.0f);
  EXPECT_NE(Profile().find("<XPullOff>3.000</XPullOff>"), std::string::npos);

  Open([](DialogModel& d) {
    d.Type(kYPullOffEdit, "7.25");
    d.Click(kSaveButton);
    EXPECT_EQ(d.Questions(), 0) << "numbers in range are stored without a question";
    EXPECT_FALSE(d.open());
  });
  EXPECT_EQ(settings_.YPullOff, 7.25);
}

// The S/N field names the card once it is connected: an Ethernet card by its hardware address,
// a USB card by its serial-number string, or says that the USB card has none.
TEST_F(ConfigurationDialogTest, SerialNumberShowsTheConnectedCardsIdentity) {
  std::strcpy(session_.serialText, "000000000000000000");
  Open([this](DialogModel& d) {
    EXPECT_STREQ(d.Text(kSerialText), "000000000000000000");
    d.FireTimer(kConnectTimerId);
    EXPECT_STREQ(d.Text(kSerialText), "000000000000000000") << "not connected yet";
    std::strcpy(session_.serialText, "025456000001");  // discovery found the card
    GoOnline(kCardLorn5);
    d.FireTimer(kConnectTimerId);
    EXPECT_STREQ(d.Text(kSerialText), "025456000001");
    d.PressCloseBox();
  });
  std::strcpy(session_.serialText, "PX-0042");
  GoOnline(kCardPell5);
  Open([this](DialogModel& d) {
    d.FireTimer(kConnectTimerId);
    EXPECT_STREQ(d.Text(kSerialText), "PX-0042");
    std::memset(session_.serialText, 0, sizeof session_.serialText);  // a card without one
    d.FireTimer(kConnectTimerId);
    EXPECT_STREQ(d.Text(kSerialText), "(none on this card)");
    d.PressCloseBox();
  });
}

TEST_F(ConfigurationDialogTest, SaveThatWritesNothingTellsTheUserWhichFileAndWhy) {
  Open([](DialogModel& d) { d.Click(kSaveButton); });
  EXPECT_TRUE(messageBox_.shown.empty()) << "a save that went through says nothing";

  // Someone broke the profile while the plug-in ran: the save must not write into it.
  std::ofstream(settings_.settingsPath, std::ios::binary) << "<profile><Torvexan>";
  Open([](DialogModel& d) {
    d.Type(kOutputPinEdit, "3");
    d.Click(kSaveButton);
  });
  EXPECT_EQ(Profile(), "<profile><Torvexan>");
  ASSERT_EQ(messageBox_.shown.size(), 1u);
  EXPECT_NE(messageBox_.shown[0].first.find(settings_.settingsPath), std::string::npos)
      << messageBox_.shown[0].first;
  EXPECT_NE(messageBox_.shown[0].first.find("not well-formed"), std::string::npos)
      << messageBox_.shown[0].first;
}

TEST_F(ConfigurationDialogTest, AxisMapComesFromTheSelectedText) {
  const struct {
    int selection;
    int32_t fourth, fifth;
  } cases[] = {{0, 3, 4}, {1, 3, 5}, {2, 4, 5}};
  for (const auto& c : cases) {
    Open([&c](DialogModel& d) {
      d.Choose(kAxisMapList, c.selection);
      d.Click(kSaveButton);
    });
    EXPECT_EQ(settings_.AxisMap[3], c.fourth) << c.selection;
    EXPECT_EQ(settings_.AxisMap[4], c.fifth) << c.selection;
  }
  // A record whose channels match no entry selects none, and SAVE then reads an empty text.
  settings_.AxisMap[3] = 0;
  settings_.AxisMap[4] = 0;
  Open([](DialogModel& d) {
    EXPECT_EQ(d.Selection(kAxisMapList), -1);
    d.Click(kSaveButton);
  });
  EXPECT_EQ(settings_.AxisMap[3], 4);
  EXPECT_EQ(settings_.AxisMap[4], 5);
}

TEST_F(ConfigurationDialogTest, NumbersBeyondTheRecordsTypesAreTakenAsLoadingTakesThem) {
  Open([](DialogModel& d) {
    d.Type(kOutputPinEdit, "99999999999");
    d.Type(kZDeepthEdit, "-99999999999");
    d.Type(kSpindleSpeedEdit, "1e300");
    d.Type(kCalibrationEdit, "1e300");
    d.Click(kSaveButton);
  });
  EXPECT_EQ(settings_.OutputPin, 0);
  EXPECT_EQ(settings_.ZDeepth, INT32_MIN) << "stops at the nearest 32-bit value";
  EXPECT_EQ(settings_.SpindleSpeed, 15000.0f) << "beyond a float: the default";
  EXPECT_EQ(settings_.SpindleRatio, 1.0f) << "beyond a float: the default, in range";
}

TEST_F(ConfigurationDialogTest, CancelCloseBoxAndOtherCommandsChangeNothing) {
  const PluginSettings before = settings_;
  const std::string file = Profile();
  const auto edit = [](DialogModel& d) {
    d.Type(kCalibrationEdit, "0.7");
    d.Type(kYPullOffEdit, "3");
    d.Choose(kAxisMapList, 2);
    d.Click(kMultiStepBox);
  };
  Open([&edit](DialogModel& d) {
    edit(d);
    d.Click(kHomeTwiceBox);  // a command of another control: no effect but its own check
    EXPECT_TRUE(d.open());
    d.Click(kCancelButton);
  });
  Open([&edit](DialogModel& d) {
    edit(d);
    d.PressCloseBox();
  });
  EXPECT_EQ(dialog_.RunningTimers(), 0);
  EXPECT_EQ(settings_.SpindleRatio, before.SpindleRatio);
  EXPECT_EQ(settings_.YPullOff, before.YPullOff);
  EXPECT_EQ(settings_.MultiStep, before.MultiStep);
  EXPECT_EQ(settings_.HomeTwice, before.HomeTwice);
  EXPECT_EQ(settings_.AxisMap[4], before.AxisMap[4]);
  EXPECT_EQ(Profile(), file);
}

TEST_F(ConfigurationDialogTest, WithoutDialogsOrWithoutAHostLoopTheDialogEndsAtOnce) {
  EXPECT_EQ(RunConfigurationDialog(nullptr, settings_, holder_, ticks_), 0);
  DialogModelRunner noModel;
  EXPECT_EQ(RunConfigurationDialog(&noModel, settings_, holder_, ticks_), 0);
  dialog_.SetModalLoop(nullptr, nullptr);
  const std::string file = Profile();
  EXPECT_EQ(RunConfigurationDialog(&runner_, settings_, holder_, ticks_), 0);
  EXPECT_FALSE(dialog_.open());
  EXPECT_EQ(dialog_.RunningTimers(), 0);
  EXPECT_EQ(Profile(), file) << "ended like the close box: nothing saved";
}

TEST_F(ConfigurationDialogTest, SessionGoneWhileOpenEndsTheDialogWithoutStoringAnything) {
  const std::string file = Profile();
  std::unique_ptr<CardSession> stopped;
  Open([this, &stopped](DialogModel& d) {
    d.Type(kCalibrationEdit, "0.7");
    stopped = std::move(holder_);  // the host stopped the plug-in from inside the modal loop
    d.FireTimer(kConnectTimerId);
    EXPECT_FALSE(d.open());
  });
  EXPECT_EQ(dialog_.RunningTimers(), 0);
  EXPECT_EQ(settings_.SpindleRatio, 0.5f);
  EXPECT_EQ(Profile(), file);
  EXPECT_EQ(RunConfigurationDialog(&runner_, settings_, holder_, ticks_), 0) << "no session";
  holder_ = std::move(stopped);
}

}  // namespace
}  // namespace torvexan
