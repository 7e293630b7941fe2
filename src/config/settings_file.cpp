// The plug-in's element inside the host's XML machine profile: read once when the host names the
// file, written back on SAVE and at stop, and nothing else in the file is touched.
#include "config/settings_file.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "xml/text_file.h"
#include "xml/xml_document.h"

namespace torvexan {
namespace {

constexpr const char* kSectionName = "Torvexan";
constexpr int kValuePrecision = 3;  // decimals of every floating-point value in the file
constexpr double kMinSpindleRatio = 0.1;
constexpr float kMaxSpindleRatio = 1.0f;
constexpr float kDefaultSpindleSpeed = 15000.0f;
constexpr float kDefaultFeedRate = 500.0f;
constexpr double kMinJerk = 5.0;
constexpr int32_t kMaxOutputPin = 4;
constexpr uint32_t kMinJogBufSize = 5;
constexpr uint32_t kMaxJogBufSize = 199;

// atoi: leading blanks skipped, digits up to the first other character, else 0.
int32_t ParseInt(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// atof without the locale's decimal comma: the file always uses a point.
double ParseDouble(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  double value = 0.0;
  const char* first = text.data() + i;
  if (std::from_chars(first, text.data() + text.size(), value).ec != std::errc()) return 0.0;
  return value;
}

std::string FormatFixed(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed,
                              kValuePrecision);
  if (result.ec != std::errc()) {
    // Too many digits for fixed notation (beyond 1e60 or so): the shortest text that reads
    // back as the same value, rather than whatever the buffer held.
    result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  }
  return std::string(buffer, result.ptr);
}

// Opens the settings element of a loaded document; `create` adds it when missing.
bool EnterSection(XmlDocument& document, bool create) {
  if (!document.FindElement() || !document.IntoElement()) return false;
  if (!document.FindElement(kSectionName)) {
    if (!create || !document.AddElement(kSectionName, std::nullopt, 0)) return false;
  }
  return document.IntoElement();
}

std::optional<std::string> ReadKey(XmlDocument& document, const char* key) {
  document.ResetMainPosition();
  if (!document.FindElement(key)) return std::nullopt;
  return document.GetElementData(document.MainElement());
}

void WriteKey(XmlDocument& document, const char* key, const std::string& value) {
  document.ResetMainPosition();
  if (!document.FindElement(key) && !document.AddElement(key, std::nullopt, 0)) return;
  document.SetElementData(document.MainElement(), value);
}

}  // namespace

void LoadSettings(PluginSettings& settings) {
  if (!settings.hasSettingsPath) return;
  XmlDocument document;
  if (!LoadFile(document, settings.settingsPath) || !EnterSection(document, false)) return;

  auto integer = [&](const char* key, auto&& store) {
    if (const auto text = ReadKey(document, key)) store(ParseInt(*text));
  };
  auto real = [&](const char* key, auto&& store) {
    if (const auto text = ReadKey(document, key)) store(ParseDouble(*text));
  };
  integer("HomeTwice", [&](int32_t v) { settings.HomeTwice = v != 0; });
  real("XPullOff", [&](double v) { settings.XPullOff = v; });
  real("YPullOff", [&](double v) { settings.YPullOff = v; });
  real("ZPullOff", [&](double v) { settings.ZPullOff = v; });
  real("APullOff", [&](double v) { settings.APullOff = v; });
  real("BPullOff", [&](double v) { settings.BPullOff = v; });
  integer("MPGDisable", [&](int32_t v) { settings.MPGDisable = v == 1; });
  integer("MultiStep", [&](int32_t v) { settings.MultiStep = v == 1; });
  real("SpindleRatio", [&](double v) {
    float ratio = static_cast<float>(v);
    if (ratio < kMinSpindleRatio) ratio = static_cast<float>(kMinSpindleRatio);
    if (ratio > kMaxSpindleRatio) ratio = kMaxSpindleRatio;
    settings.SpindleRatio = ratio;
  });
  real("SpindleSpeed", [&](double v) {
    const float speed = static_cast<float>(v);
    settings.SpindleSpeed = speed < 0 ? kDefaultSpindleSpeed : speed;
  });
  real("FeedRate", [&](double v) {
    const float feed = static_cast<float>(v);
    settings.FeedRate = feed < 0 ? kDefaultFeedRate : feed;
  });
  integer("OutputPin",
          [&](int32_t v) { settings.OutputPin = (v < 0 || v > kMaxOutputPin) ? 0 : v; });
  integer("ZDeepth", [&](int32_t v) { settings.ZDeepth = v; });
  integer("JogBufSize", [&](int32_t v) {
    uint32_t size = static_cast<uint32_t>(v);
    if (size > kMaxJogBufSize) size = kMaxJogBufSize;
    if (size < kMinJogBufSize) size = kMinJogBufSize;
    settings.JogBufSize = size;
  });
  real("Jerk", [&](double v) { settings.Jerk = v < kMinJerk ? kMinJerk : v; });
  integer("AxesMap", [&](int32_t v) { ApplyAxesMapCode(v, settings.AxisMap); });
}

void SaveSettings(const PluginSettings& settings) {
  if (!settings.hasSettingsPath) return;
  XmlDocument document;
  if (!LoadFile(document, settings.settingsPath)) return;
  // Text that could not be read faithfully would be written back changed: the host's file is
  // worth more than our settings, so it is left alone.
  if (document.Log().Has("conversion_loss") || document.Log().Has("nulls_removed")) return;
  if (!EnterSection(document, true)) return;

  const auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
  WriteKey(document, "HomeTwice", flag(settings.HomeTwice));
  WriteKey(document, "MultiStep", flag(settings.MultiStep));
  WriteKey(document, "MPGDisable", flag(settings.MPGDisable));
  WriteKey(document, "XPullOff", FormatFixed(settings.XPullOff));
  WriteKey(document, "YPullOff", FormatFixed(settings.YPullOff));
  WriteKey(document, "ZPullOff", FormatFixed(settings.ZPullOff));
  WriteKey(document, "APullOff", FormatFixed(settings.APullOff));
  WriteKey(document, "BPullOff", FormatFixed(settings.BPullOff));
  WriteKey(document, "SpindleRatio", FormatFixed(settings.SpindleRatio));
  WriteKey(document, "SpindleSpeed", FormatFixed(settings.SpindleSpeed));
  WriteKey(document, "Jerk", FormatFixed(settings.Jerk));
  WriteKey(document, "FeedRate", FormatFixed(settings.FeedRate));
  WriteKey(document, "OutputPin", std::to_string(settings.OutputPin));
  WriteKey(document, "ZDeepth", std::to_string(settings.ZDeepth));
  WriteKey(document, "AxesMap", std::to_string(AxesMapCode(settings.AxisMap)));
  WriteKey(document, "JogBufSize", std::to_string(static_cast<int32_t>(settings.JogBufSize)));
  SaveFile(document, settings.settingsPath);
}

}  // namespace torvexan
