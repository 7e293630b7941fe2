// The settings element inside the host's profile: loading with range checks, saving that changes
// nothing but that element, and leaving the file alone whenever it cannot be kept intact.
#include "config/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings_table.h"
#include "support/locale_environment.h"

namespace torvexan {
namespace {

namespace fs = std::filesystem;
using testing::LocaleEnvironment;

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
    char pattern[] = "/tmp/settings_file_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    settings_.settingsPath = (folder_ / "profile.xml").string();
    settings_.hasSettingsPath = true;
  }
  void TearDown() override { fs::remove_all(folder_); }

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

  LocaleEnvironment locale_{"C.UTF-8"};  // the system code page of these tests: UTF-8
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

TEST_F(SettingsFileTest, FilesThatCannotBeKeptIntactAreNeverWrittenAndTheSaveSaysWhy) {
  // Missing: never created.
  SettingsSaveResult result = SaveSettings(settings_);
  EXPECT_FALSE(fs::exists(settings_.settingsPath));
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.path, settings_.settingsPath);
  EXPECT_EQ(result.reason, "the file cannot be read (No such file or directory)");
  LoadSettings(settings_);
  EXPECT_EQ(settings_.Jerk, 1000.0);

  // Not well formed: left as it is.
  for (const std::string& broken :
       {std::string("<r><Torvexan></r>"), std::string("<r/><Torvexan/>")}) {
    WriteProfile(broken);
    result = SaveSettings(settings_);
    EXPECT_EQ(ReadProfile(), broken);
    EXPECT_EQ(SettingsSaveReport(result), "Torvexan: settings not saved to " +
                                              settings_.settingsPath +
                                              ": the file is not well-formed XML");
  }

  // A UTF-16 file holding half a surrogate pair has no faithful UTF-8 form.
  const std::string unpaired =
      "\xFF\xFE" + Utf16Le("<r>") + std::string("\x00\xD8", 2) + Utf16Le("</r>");
  WriteProfile(unpaired);
  result = SaveSettings(settings_);
  EXPECT_EQ(ReadProfile(), unpaired);
  EXPECT_EQ(result.reason, "the file holds text that cannot be kept as it is");

  // Written as UTF-7, the markup itself would turn into "+ADw-" sequences: unreadable after.
  const std::string utf7 = "<?xml version=\"1.0\" encoding=\"UTF-7\"?>\n<r><Torvexan/></r>\n";
  WriteProfile(utf7);
  result = SaveSettings(settings_);
  EXPECT_EQ(ReadProfile(), utf7);
  EXPECT_EQ(result.reason, "the file's encoding (UTF-7) cannot be written back readably");

  // A profile without a named file is nothing to save.
  EXPECT_TRUE(SaveSettings(PluginSettings{}).ok);
  EXPECT_EQ(SettingsSaveReport(SaveSettings(PluginSettings{})), "");
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

// Round trips of realistic profiles: every save keeps the bytes outside the settings element,
// and what was saved loads back.
class ProfileRoundTrip : public SettingsFileTest {
 protected:
  // Saves the changed settings into the profile, checks that nothing outside the element moved,
  // and returns the file.
  std::string SaveAndCompare(const std::string& before, const std::string& open = "<Torvexan>",
                             const std::string& close = "</Torvexan>") {
    WriteProfile(before);
    const SettingsSaveResult result = SaveSettings(settings_);
    EXPECT_TRUE(result.ok) << result.reason;
    const std::string after = ReadProfile();
    ExpectOnlySectionChanged(before, after, open, close);
    return after;
  }
  PluginSettings Reloaded() const {
    PluginSettings reloaded;
    reloaded.settingsPath = settings_.settingsPath;
    reloaded.hasSettingsPath = true;
    LoadSettings(reloaded);
    return reloaded;
  }
  static std::string WithBeforeRootEnd(std::string profile, const std::string& element) {
    profile.insert(profile.rfind("</Profile>"), element + "\r\n");
    return profile;
  }
};

std::string PrintfFixed(const char* format, double value) {
  char text[512];
  std::snprintf(text, sizeof(text), format, value);  // the test runs in the C locale
  return text;
}

// Values for a round trip of every key: each in its key's range, none equal to its default or to
// another key's value, so that a value saved under the wrong key or not reloaded shows. Flags
// take the bit `pass` of their position (1-based), so every two flags differ in some pass.
std::vector<double> DistinctValues(int pass) {
  const auto table = SettingsTable();
  std::vector<double> values(table.size());
  std::vector<size_t> order(table.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  // Narrow ranges choose first, so the few values they hold stay free for them.
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return table[a].max - table[a].min < table[b].max - table[b].min;
  });
  std::vector<double> candidates = {0.25, 0.5, 0.75};
  for (int n = 2; n < 100; ++n) candidates.push_back(n);
  std::vector<double> used;
  int flag = 0;
  for (size_t i : order) {
    const SettingRow& row = table[i];
    if (row.type == SettingType::kFlag || row.type == SettingType::kFlagOne) continue;
    const bool whole = row.type != SettingType::kReal && row.type != SettingType::kFloat;
    for (double c : candidates) {
      if ((whole && c != std::floor(c)) || BringIntoRange(row, c) != c ||
          c == SettingDefault(row) || std::find(used.begin(), used.end(), c) != used.end()) {
        continue;
      }
      values[i] = c;
      used.push_back(c);
      break;
    }
  }
  for (size_t i = 0; i < table.size(); ++i) {
    const SettingType type = table[i].type;
    if (type == SettingType::kFlag || type == SettingType::kFlagOne) {
      values[i] = ((++flag >> pass) & 1) ? 1 : 0;
    }
  }
  return values;
}

TEST_F(ProfileRoundTrip, EveryKeyIsSavedUnderItsOwnNameAndReloadsAsSaved) {
  const auto table = SettingsTable();
  for (int pass = 0; pass < 2; ++pass) {
    const std::vector<double> values = DistinctValues(pass);
    for (size_t i = 0; i < table.size(); ++i) {
      const SettingType type = table[i].type;
      if (type == SettingType::kFlag || type == SettingType::kFlagOne) continue;
      ASSERT_NE(values[i], 0.0) << table[i].key << ": no free value in its range";
      ASSERT_NE(values[i], SettingDefault(table[i])) << table[i].key;
    }
    for (size_t i = 0; i < table.size(); ++i) table[i].set(settings_, values[i]);
    SaveAndCompare(Sample("profile.xml"));
    const PluginSettings reloaded = Reloaded();
    for (size_t i = 0; i < table.size(); ++i) {
      EXPECT_EQ(table[i].get(reloaded), values[i]) << table[i].key << " in pass " << pass;
    }
  }
}

TEST_F(ProfileRoundTrip, HugeNumbersAreWrittenWithAllTheirDigitsAndSavedAgain) {
  settings_.XPullOff = 1e100;
  settings_.Jerk = 1e300;
  settings_.BPullOff = -123456789012345.25;
  SaveAndCompare(Sample("profile.xml"));
  const std::string first = ReadProfile();
  EXPECT_NE(first.find("<XPullOff>" + PrintfFixed("%4.3f", 1e100) + "</XPullOff>"),
            std::string::npos);
  EXPECT_NE(first.find("<Jerk>" + PrintfFixed("%.3f", 1e300) + "</Jerk>"), std::string::npos);
  EXPECT_NE(first.find("<BPullOff>-123456789012345.250</BPullOff>"), std::string::npos);
  EXPECT_EQ(first.find('\0'), std::string::npos);

  const PluginSettings reloaded = Reloaded();
  EXPECT_EQ(reloaded.XPullOff, 1e100);
  EXPECT_EQ(reloaded.Jerk, 1e300);
  // Every later save still goes through.
  settings_.Jerk = 12.0;
  SaveAndCompare(first);
  EXPECT_EQ(Reloaded().Jerk, 12.0);
}

TEST_F(ProfileRoundTrip, ValuesThatAreNoFiniteNumberLoadAsTheKeysDefault) {
  EXPECT_EQ(LoadKey("Jerk", "1e999").Jerk, 1000.0);
  EXPECT_EQ(LoadKey("Jerk", "-1e999").Jerk, 1000.0);
  EXPECT_EQ(LoadKey("XPullOff", "inf").XPullOff, 5.0);
  EXPECT_EQ(LoadKey("BPullOff", " nan").BPullOff, 5.0);
  EXPECT_EQ(LoadKey("SpindleSpeed", "1e300").SpindleSpeed, 15000.0f) << "infinite as a float";
  EXPECT_EQ(LoadKey("FeedRate", "INFINITY").FeedRate, 500.0f);
  EXPECT_EQ(LoadKey("SpindleRatio", "NaN").SpindleRatio, 1.0f);
  EXPECT_EQ(LoadKey("Jerk", "1e-999").Jerk, 5.0) << "too small reads as 0";
}

TEST_F(ProfileRoundTrip, NumbersAreReadAsAtofReadsThemInTheCLocale) {
  EXPECT_EQ(LoadKey("XPullOff", "+-5").XPullOff, 0.0);
  EXPECT_EQ(LoadKey("XPullOff", "-+5").XPullOff, 0.0);
  EXPECT_EQ(LoadKey("XPullOff", "0x10").XPullOff, 16.0);
  EXPECT_EQ(LoadKey("XPullOff", " -0X1.8p1").XPullOff, -3.0);
  EXPECT_EQ(LoadKey("XPullOff", "0x").XPullOff, 0.0);
  EXPECT_EQ(LoadKey("XPullOff", "+.5e1x").XPullOff, 5.0);
  EXPECT_EQ(LoadKey("XPullOff", "2,5").XPullOff, 2.0) << "the decimal sign is a point";
  EXPECT_EQ(LoadKey("XPullOff", "\t\n 7").XPullOff, 7.0);
  for (const char* text : {"+-5", "0x10", "-0X1.8p1", "+.5e1x", "1e400", "4.9e-330"}) {
    EXPECT_EQ(LoadKey("Jerk", text).Jerk,
              std::max(5.0, std::isfinite(std::atof(text)) ? std::atof(text) : 1000.0))
        << text;
  }
}

TEST_F(ProfileRoundTrip, Utf8ProfileWithChineseTextUnderAsciiAndWesternLocales) {
  const std::string sample = Sample("profile.xml");
  const std::string chinese = "<Title>\xE9\x93\xA3\xE5\xBA\x8A 3040</Title>";  // 铣床
  const std::string declared = WithBeforeRootEnd(sample, chinese);
  const std::string undeclared = declared.substr(declared.find("<Profile>"));
  for (const char* locale : {"C", "POSIX", "en_US.ISO-8859-1", "de_DE.CP1252@euro"}) {
    LocaleEnvironment environment(locale);
    for (const std::string& profile : {declared, undeclared}) {
      settings_.Jerk = 4321.0;
      const std::string after = SaveAndCompare(profile);
      EXPECT_NE(after.find(chinese), std::string::npos) << locale;
      EXPECT_EQ(Reloaded().Jerk, 4321.0) << locale;
    }
  }
}

TEST_F(ProfileRoundTrip, Latin1ProfileWithoutDeclarationKeepsItsBytes) {
  const std::string sample = Sample("profile_no_section.xml");
  const std::string latin1 = WithBeforeRootEnd(sample.substr(sample.find("<Profile>")),
                                               "<Owner>Jos\xE9 Mu\xF1oz, M\xFCnchen</Owner>");
  for (const char* locale : {"C", "C.UTF-8"}) {
    LocaleEnvironment environment(locale);
    WriteProfile(latin1);
    settings_.OutputPin = 3;
    EXPECT_TRUE(SaveSettings(settings_).ok) << locale;
    const size_t rootEnd = latin1.rfind("</Profile>");
    const std::string after = ReadProfile();
    EXPECT_EQ(after.substr(0, rootEnd), latin1.substr(0, rootEnd)) << locale;
    EXPECT_NE(after.find("<OutputPin>3</OutputPin>"), std::string::npos);
    EXPECT_EQ(Reloaded().OutputPin, 3) << locale;
  }
}

TEST_F(ProfileRoundTrip, Utf16ProfileWithTrailingNullUnitKeepsIt) {
  const std::string before = Sample("profile_utf16le.xml") + std::string(2, '\0');
  settings_.ZDeepth = 9;
  const std::string after = SaveAndCompare(before, Utf16Le("<Torvexan>"), Utf16Le("</Torvexan>"));
  EXPECT_EQ(after.substr(after.size() - 2), std::string(2, '\0'));
  EXPECT_NE(after.find(Utf16Le("<ZDeepth>9</ZDeepth>")), std::string::npos);
  EXPECT_EQ(Reloaded().ZDeepth, 9);

  // Null bytes in an 8-bit profile are kept just the same.
  constexpr char kNulls[] = "<r>\0<Torvexan/></r>\0";
  const std::string nulls(kNulls, sizeof(kNulls) - 1);
  WriteProfile(nulls);
  EXPECT_TRUE(SaveSettings(settings_).ok);
  const std::string saved = ReadProfile();
  EXPECT_EQ(saved.substr(0, 4), nulls.substr(0, 4));
  EXPECT_EQ(saved.substr(saved.size() - 5), nulls.substr(nulls.size() - 5));
}

// A profile made writable for the user inside a folder that only root may write: the save
// cannot put a temporary file beside it and rewrites it in place. The save runs in a helper
// program started as an unprivileged user.
TEST_F(ProfileRoundTrip, ProfileInAFolderOnlyRootCanWriteIsSavedInPlace) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root: the folder is made root's own and the save runs as nobody "
                    "through setpriv";
  }
  ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
  const std::string before = Sample("profile.xml");
  WriteProfile(before);
  ASSERT_EQ(chmod(settings_.settingsPath.c_str(), 0666), 0);
  struct stat original {};
  ASSERT_EQ(stat(settings_.settingsPath.c_str(), &original), 0);

  const std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                              std::string(TORVEXAN_SAVE_AS_USER) + " " + settings_.settingsPath;
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save as nobody was refused";

  const std::string after = ReadProfile();
  ExpectOnlySectionChanged(before, after, "<Torvexan>", "</Torvexan>");
  EXPECT_NE(after.find("<Jerk>321.500</Jerk>"), std::string::npos);
  struct stat now {};
  ASSERT_EQ(stat(settings_.settingsPath.c_str(), &now), 0);
  EXPECT_EQ(now.st_ino, original.st_ino) << "written in place";
  EXPECT_EQ(now.st_uid, original.st_uid);
  EXPECT_EQ(now.st_mode, original.st_mode);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 1) << "nothing left beside it";

  // With the profile read-only for the user too, nothing is written and the helper says why.
  ASSERT_EQ(chmod(settings_.settingsPath.c_str(), 0644), 0);
  EXPECT_NE(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadProfile(), after);
}

}  // namespace
}  // namespace torvexan
