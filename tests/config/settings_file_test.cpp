// The settings element inside the host's profile: loading with range checks, saving that changes
// nothing but that element, and leaving the file alone whenever it cannot be kept intact.
#include "config/settings_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace torvexan {
namespace {

namespace fs = std::filesystem;

const std::string kSectionAddedToDefaults =
    "<Torvexan>\r\n<HomeTwice>1</HomeTwice>\r\n<MultiStep>0</MultiStep>\r\n"
    "<MPGDisable>0</MPGDisable>\r\n<XPullOff>5.000</XPullOff>\r\n<YPullOff>5.000</YPullOff>\r\n"
    "<ZPullOff>5.000</ZPullOff>\r\n<APullOff>5.000</APullOff>\r\n<BPullOff>5.000</BPullOff>\r\n"
    "<SpindleRatio>1.000</SpindleRatio>\r\n<SpindleSpeed>15000.000</SpindleSpeed>\r\n"
    "<Jerk>1000.000</Jerk>\r\n<FeedRate>500.000</FeedRate>\r\n<OutputPin>0</OutputPin>\r\n"
    "<ZDeepth>0</ZDeepth>\r\n<AxesMap>1</AxesMap>\r\n<JogBufSize>50</JogBufSize>\r\n"
    "</Torvexan>\r\n";

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedLocale_ = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C.UTF-8");  // the system code page of these tests: UTF-8
    char pattern[] = "/tmp/settings_file_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    settings_.settingsPath = (folder_ / "profile.xml").string();
    settings_.hasSettingsPath = true;
  }
  void TearDown() override {
    fs::remove_all(folder_);
    std::setlocale(LC_CTYPE, savedLocale_.c_str());
  }

  void WriteProfile(std::string_view bytes) {
    std::ofstream(settings_.settingsPath, std::ios::binary) << bytes;
  }
  std::string ReadProfile() const {
    std::ifstream in(settings_.settingsPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static std::string Sample(const std::string& name) {
    std::ifstream in(std::string(TORVEXAN_SETTINGS_DATA) + "/" + name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  // Loads a Torvexan element holding one key with the given text.
  PluginSettings LoadKey(const std::string& key, const std::string& text) {
    WriteProfile("<r><Torvexan><" + key + ">" + text + "</" + key + "></Torvexan></r>");
    PluginSettings loaded;
    loaded.settingsPath = settings_.settingsPath;
    loaded.hasSettingsPath = true;
    LoadSettings(loaded);
    return loaded;
  }

  std::string savedLocale_;
  fs::path folder_;
  PluginSettings settings_;
};

// Everything before the start of `open` and after the end of `close` must be unchanged.
void ExpectOnlySectionChanged(const std::string& before, const std::string& after,
                              const std::string& open, const std::string& close) {
  const size_t start = before.find(open);
  const size_t end = before.find(close) + close.size();
  ASSERT_NE(start, std::string::npos);
  ASSERT_EQ(after.find(open), start);
  EXPECT_EQ(after.substr(0, start), before.substr(0, start));
  const size_t afterEnd = after.find(close) + close.size();
  EXPECT_EQ(after.substr(afterEnd), before.substr(end));
}

std::string Utf16Le(std::string_view ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

TEST_F(SettingsFileTest, EmptyRootGainsTheWholeSectionInSaveOrder) {
  WriteProfile("<Profile/>");
  SaveSettings(settings_);
  EXPECT_EQ(ReadProfile(), "<Profile>\r\n" + kSectionAddedToDefaults + "</Profile>");
}

TEST_F(SettingsFileTest, SectionIsAddedAtTheEndOfARealProfileAndNothingElseMoves) {
  const std::string before = Sample("profile_no_section.xml");
  WriteProfile(before);
  SaveSettings(settings_);
  const size_t rootEnd = before.rfind("</Profile>");
  EXPECT_EQ(ReadProfile(),
            before.substr(0, rootEnd) + kSectionAddedToDefaults + before.substr(rootEnd));
}

TEST_F(SettingsFileTest, ExistingSectionIsUpdatedInPlaceKeepingEverythingAround) {
  const std::string before = Sample("profile.xml");
  WriteProfile(before);
  LoadSettings(settings_);
  EXPECT_EQ(settings_.Jerk, 250.0);
  EXPECT_FALSE(settings_.HomeTwice);
  EXPECT_EQ(settings_.XPullOff, 2.5);
  EXPECT_EQ(settings_.AxisMap[3], 4);
  EXPECT_EQ(settings_.AxisMap[4], 5);
  settings_.Jerk = 777.5;
  settings_.ZDeepth = -3;
  SaveSettings(settings_);
  const std::string after = ReadProfile();
  ExpectOnlySectionChanged(before, after, "<Torvexan>", "</Torvexan>");
  EXPECT_NE(after.find("<Jerk>777.500</Jerk>"), std::string::npos);
  EXPECT_NE(after.find("<Extra note=\"user &amp; friends\">keep me</Extra>"), std::string::npos);
  EXPECT_NE(after.find("<XPullOff>2.500</XPullOff>"), std::string::npos);
  EXPECT_NE(after.find("<HomeTwice>0</HomeTwice>"), std::string::npos);
  EXPECT_NE(after.find("<ZDeepth>-3</ZDeepth>\r\n<JogBufSize>50</JogBufSize>\r\n</Torvexan>"),
            std::string::npos);

  // A second save with the same values writes the same bytes.
  SaveSettings(settings_);
  EXPECT_EQ(ReadProfile(), after);
  PluginSettings reloaded;
  reloaded.settingsPath = settings_.settingsPath;
  reloaded.hasSettingsPath = true;
  LoadSettings(reloaded);
  EXPECT_EQ(reloaded.Jerk, 777.5);
  EXPECT_EQ(reloaded.ZDeepth, -3);
}

TEST_F(SettingsFileTest, Utf16ProfileWithMarkKeepsItsEncodingAndBytes) {
  const std::string before = Sample("profile_utf16le.xml");
  WriteProfile(before);
  settings_.OutputPin = 2;
  SaveSettings(settings_);
  const std::string after = ReadProfile();
  ExpectOnlySectionChanged(before, after, Utf16Le("<Torvexan>"), Utf16Le("</Torvexan>"));
  EXPECT_NE(after.find(Utf16Le("<OutputPin>2</OutputPin>")), std::string::npos);
  LoadSettings(settings_);
  EXPECT_EQ(settings_.OutputPin, 2);
}

TEST_F(SettingsFileTest, DeclaredGb2312ProfileKeepsItsBytes) {
  const std::string before = Sample("profile_gb2312.xml");
  WriteProfile(before);
  settings_.MultiStep = true;
  SaveSettings(settings_);
  const std::string after = ReadProfile();
  ExpectOnlySectionChanged(before, after, "<Torvexan>", "</Torvexan>");
  EXPECT_NE(after.find("<MultiStep>1</MultiStep>"), std::string::npos);
}

TEST_F(SettingsFileTest, LoadBringsValuesIntoRange) {
  EXPECT_EQ(LoadKey("SpindleRatio", "5").SpindleRatio, 1.0f);
  EXPECT_EQ(LoadKey("SpindleRatio", "0.05").SpindleRatio, 0.1f);
  EXPECT_EQ(LoadKey("SpindleRatio", "0.1").SpindleRatio, 0.1f);
  EXPECT_EQ(LoadKey("OutputPin", "5").OutputPin, 0);
  EXPECT_EQ(LoadKey("OutputPin", "-1").OutputPin, 0);
  EXPECT_EQ(LoadKey("OutputPin", "4").OutputPin, 4);
  EXPECT_EQ(LoadKey("JogBufSize", "0").JogBufSize, 5u);
  EXPECT_EQ(LoadKey("JogBufSize", "250").JogBufSize, 199u);
  EXPECT_EQ(LoadKey("JogBufSize", "-3").JogBufSize, 199u);
  EXPECT_EQ(LoadKey("JogBufSize", "").JogBufSize, 5u);
  EXPECT_EQ(LoadKey("Jerk", "2").Jerk, 5.0);
  EXPECT_EQ(LoadKey("Jerk", "").Jerk, 5.0);
  EXPECT_EQ(LoadKey("SpindleSpeed", "-1").SpindleSpeed, 15000.0f);
  EXPECT_EQ(LoadKey("SpindleSpeed", "0").SpindleSpeed, 0.0f);
  EXPECT_EQ(LoadKey("FeedRate", "-0.5").FeedRate, 500.0f);
  EXPECT_EQ(LoadKey("MultiStep", "2").MultiStep, false);
  EXPECT_EQ(LoadKey("MultiStep", "1").MultiStep, true);
  EXPECT_EQ(LoadKey("HomeTwice", "7").HomeTwice, true);
  EXPECT_EQ(LoadKey("XPullOff", "  12.5mm").XPullOff, 12.5);
  EXPECT_EQ(LoadKey("XPullOff", "abc").XPullOff, 0.0);
  EXPECT_EQ(LoadKey("ZDeepth", " -7x").ZDeepth, -7);
  const PluginSettings ac = LoadKey("AxesMap", "2");
  EXPECT_EQ(ac.AxisMap[3], 3);
  EXPECT_EQ(ac.AxisMap[4], 5);
  const PluginSettings fallback = LoadKey("AxesMap", "7");
  EXPECT_EQ(fallback.AxisMap[3], 3);
  EXPECT_EQ(fallback.AxisMap[4], 4);
}

TEST_F(SettingsFileTest, KeysAreFoundInAnyOrderAndOnlyUnderTheRoot) {
  WriteProfile(
      "<r><x/><Torvexan><Jerk>9</Jerk><junk/><MPGDisable>1</MPGDisable><Jerk>8</Jerk>"
      "</Torvexan></r>");
  LoadSettings(settings_);
  EXPECT_EQ(settings_.Jerk, 9.0) << "the first occurrence counts";
  EXPECT_TRUE(settings_.MPGDisable);

  WriteProfile("<r><deeper><Torvexan><Jerk>9</Jerk></Torvexan></deeper></r>");
  PluginSettings untouched;
  untouched.settingsPath = settings_.settingsPath;
  untouched.hasSettingsPath = true;
  LoadSettings(untouched);
  EXPECT_EQ(untouched.Jerk, 1000.0);
}

TEST_F(SettingsFileTest, FilesThatCannotBeKeptIntactAreNeverWritten) {
  // Missing: never created.
  SaveSettings(settings_);
  EXPECT_FALSE(fs::exists(settings_.settingsPath));
  LoadSettings(settings_);
  EXPECT_EQ(settings_.Jerk, 1000.0);

  // Not well formed, or holding null bytes: left as they are.
  for (const std::string& broken : {std::string("<r><Torvexan></r>"),
                                    std::string("<r/><Torvexan/>"), std::string("<r>\0</r>", 8)}) {
    WriteProfile(broken);
    SaveSettings(settings_);
    EXPECT_EQ(ReadProfile(), broken);
  }

  // Text the system code page cannot hold would come back as "?": the file stays as it is.
  std::setlocale(LC_CTYPE, "C");
  const std::string utf8 = "<r><n>caf\xC3\xA9</n></r>";
  WriteProfile(utf8);
  SaveSettings(settings_);
  EXPECT_EQ(ReadProfile(), utf8);
}

TEST_F(SettingsFileTest, KeyHoldingElementsIsLeftAlone) {
  WriteProfile("<r><Torvexan><Jerk><v>1</v></Jerk></Torvexan></r>");
  settings_.Jerk = 50.0;
  SaveSettings(settings_);
  const std::string after = ReadProfile();
  EXPECT_NE(after.find("<Jerk><v>1</v></Jerk>"), std::string::npos);
  EXPECT_NE(after.find("<FeedRate>500.000</FeedRate>"), std::string::npos);
}

TEST_F(SettingsFileTest, SaveWritesValuesUncheckedAndTheAxisCode) {
  WriteProfile("<r/>");
  settings_.AxisMap[3] = 4;
  settings_.AxisMap[4] = 5;
  settings_.JogBufSize = 1000;
  settings_.HomeTwice = false;
  SaveSettings(settings_);
  const std::string after = ReadProfile();
  EXPECT_NE(after.find("<AxesMap>3</AxesMap>"), std::string::npos);
  EXPECT_NE(after.find("<JogBufSize>1000</JogBufSize>"), std::string::npos);
  EXPECT_NE(after.find("<HomeTwice>0</HomeTwice>"), std::string::npos);
}

TEST_F(SettingsFileTest, HugeValuesAreSavedAsNumbersThatLoadBack) {
  // Fixed notation of 1e300 needs over 300 digits: it must not come out as stray bytes.
  PluginSettings huge = LoadKey("Jerk", "1e300");
  ASSERT_EQ(huge.Jerk, 1e300);
  huge.XPullOff = -1e300;
  SaveSettings(huge);
  const std::string saved = ReadProfile();
  EXPECT_EQ(saved.find('\0'), std::string::npos);
  PluginSettings again;
  again.settingsPath = settings_.settingsPath;
  again.hasSettingsPath = true;
  LoadSettings(again);
  EXPECT_EQ(again.Jerk, 1e300);
  EXPECT_EQ(again.XPullOff, -1e300);
}

}  // namespace
}  // namespace torvexan
