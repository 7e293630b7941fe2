#include "config/settings_table.h"

#include <cmath>
#include <iterator>
#include <limits>

#include "config/configuration_dialog.h"

namespace torvexan {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kIntMin = std::numeric_limits<int32_t>::min();
constexpr double kIntMax = std::numeric_limits<int32_t>::max();
constexpr double kMinSpindleRatio = 0.1;
constexpr double kMaxSpindleRatio = 1.0;
constexpr double kMinJerk = 5.0;
constexpr double kMaxOutputPin = 4;
constexpr double kMinJogBufSize = 5;
constexpr double kMaxJogBufSize = 199;
constexpr double kFirstAxesMapCode = 1;
constexpr double kLastAxesMapCode = 3;

// A row whose field is one member of the record.
// clang-format off
#define TORVEXAN_SETTING(field, type, min, max, outside, control)                   \
  SettingRow{#field, type, min, max, outside, control,                             \
             [](const PluginSettings& s) { return static_cast<double>(s.field); }, \
             [](PluginSettings& s, double v) { s.field = static_cast<decltype(s.field)>(v); }}
// clang-format on

constexpr SettingRow kRows[] = {
    TORVEXAN_SETTING(HomeTwice, SettingType::kFlag, 0, 1, OutOfRange::kClamp, kHomeTwiceBox),
    TORVEXAN_SETTING(MultiStep, SettingType::kFlagOne, 0, 1, OutOfRange::kClamp, kMultiStepBox),
    TORVEXAN_SETTING(MPGDisable, SettingType::kFlagOne, 0, 1, OutOfRange::kClamp, kMpgDisableBox),
    TORVEXAN_SETTING(XPullOff, SettingType::kReal, -kInf, kInf, OutOfRange::kClamp, kXPullOffEdit),
    TORVEXAN_SETTING(YPullOff, SettingType::kReal, -kInf, kInf, OutOfRange::kClamp, kYPullOffEdit),
    TORVEXAN_SETTING(ZPullOff, SettingType::kReal, -kInf, kInf, OutOfRange::kClamp, kZPullOffEdit),
    TORVEXAN_SETTING(APullOff, SettingType::kReal, -kInf, kInf, OutOfRange::kClamp, kAPullOffEdit),
    TORVEXAN_SETTING(BPullOff, SettingType::kReal, -kInf, kInf, OutOfRange::kClamp, kBPullOffEdit),
    TORVEXAN_SETTING(SpindleRatio, SettingType::kFloat, kMinSpindleRatio, kMaxSpindleRatio,
                     OutOfRange::kClamp, kCalibrationEdit),
    TORVEXAN_SETTING(SpindleSpeed, SettingType::kFloat, 0, kInf, OutOfRange::kDefault,
                     kSpindleSpeedEdit),
    TORVEXAN_SETTING(Jerk, SettingType::kReal, kMinJerk, kInf, OutOfRange::kClamp, 0),
    TORVEXAN_SETTING(FeedRate, SettingType::kFloat, 0, kInf, OutOfRange::kDefault, kFeedRateEdit),
    TORVEXAN_SETTING(OutputPin, SettingType::kInt, 0, kMaxOutputPin, OutOfRange::kDefault,
                     kOutputPinEdit),
    TORVEXAN_SETTING(ZDeepth, SettingType::kInt, kIntMin, kIntMax, OutOfRange::kClamp,
                     kZDeepthEdit),
    SettingRow{
        "AxesMap", SettingType::kAxesMap, kFirstAxesMapCode, kLastAxesMapCode, OutOfRange::kDefault,
        kAxisMapList,
        [](const PluginSettings& s) { return static_cast<double>(AxesMapCode(s.AxisMap)); },
        [](PluginSettings& s, double v) { ApplyAxesMapCode(static_cast<int>(v), s.AxisMap); }},
    TORVEXAN_SETTING(JogBufSize, SettingType::kUnsigned, kMinJogBufSize, kMaxJogBufSize,
                     OutOfRange::kClamp, 0),
};

#undef TORVEXAN_SETTING

double InRange(const SettingRow& row, double value) {
  if (value >= row.min && value <= row.max) return value;
  if (row.outside == OutOfRange::kDefault) return SettingDefault(row);
  return value < row.min ? row.min : row.max;
}

}  // namespace

std::span<const SettingRow> SettingsTable() {
  return kRows;
}

double SettingDefault(const SettingRow& row) {
  static const PluginSettings kDefaults;
  return row.get(kDefaults);
}

double BringIntoRange(const SettingRow& row, double value) {
  switch (row.type) {
    case SettingType::kFlag:
      return value != 0 ? 1 : 0;
    case SettingType::kFlagOne:
      return value == 1 ? 1 : 0;
    case SettingType::kReal:
      return std::isfinite(value) ? InRange(row, value) : SettingDefault(row);
    case SettingType::kFloat: {
      // Compared once narrowed: a double just below a bound may narrow onto it.
      const float narrowed = static_cast<float>(value);
      if (!std::isfinite(narrowed)) return SettingDefault(row);
      return static_cast<float>(InRange(row, narrowed));
    }
    case SettingType::kInt:
    case SettingType::kAxesMap:
      return InRange(row, value);
    case SettingType::kUnsigned:
      return InRange(row, static_cast<uint32_t>(static_cast<int32_t>(value)));
  }
  return SettingDefault(row);
}

}  // namespace torvexan
