// The plug-in's element inside the host's XML machine profile: read once when the host names the
// file, written back on SAVE and at stop, and nothing else in the file is touched.
#include "config/settings_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings_table.h"
#include "xml/encoding_table.h"
#include "xml/text_file.h"
#include "xml/xml_document.h"

namespace torvexan {
namespace {

constexpr uint32_t kCodePageUtf7 = 65000;

constexpr const char* kSectionName = "Torvexan";
constexpr int kValuePrecision = 3;  // decimals of every floating-point value in the file

// atoi: leading blanks skipped, digits up to the first other character, else 0.
int32_t ParseInt(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Whether a number that does not fit a double is too large rather than too small: its first
// significant digit stands above the units place once the exponent is applied.
bool Overflows(std::string_view number, bool hex) {
  const size_t exponentAt = number.find_first_of(hex ? "pP" : "eE");
  const std::string_view mantissa = number.substr(0, exponentAt);
  long long exponent = 0;
  if (exponentAt != std::string_view::npos) {
    std::string_view digits = number.substr(exponentAt + 1);
    const bool negative = !digits.empty() && digits[0] == '-';
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
    for (char c : digits) exponent = std::min(exponent * 10 + (c - '0'), 1'000'000'000LL);
    if (negative) exponent = -exponent;
  }
  const size_t point = std::min(mantissa.find('.'), mantissa.size());
  const size_t first = mantissa.find_first_not_of("0.");
  if (first == std::string_view::npos) return false;
  const long long digitPlace = first < point ? static_cast<long long>(point - first)
                                             : -static_cast<long long>(first - point);
  return digitPlace * (hex ? 4 : 1) + exponent > 0;
}

// atof in the C locale, whatever the host's locale: leading blanks, one optional sign, then a
// decimal or hexadecimal number, an infinity or a NaN; anything else gives 0. Numbers beyond
// the double range give infinity (too large) or 0 (too small), as strtod does.
double ParseDouble(const std::string& text) {
  std::string_view rest(text);
  while (!rest.empty() && IsSpace(rest.front())) rest.remove_prefix(1);
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  if (rest.empty() || rest.front() == '+' || rest.front() == '-') return 0.0;
  auto format = std::chars_format::general;
  const bool hex =
      rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X') &&
      (std::isxdigit(static_cast<unsigned char>(rest[2])) ||
       (rest[2] == '.' && rest.size() > 3 && std::isxdigit(static_cast<unsigned char>(rest[3]))));
  if (hex) {
    rest.remove_prefix(2);
    format = std::chars_format::hex;
  }
  double value = 0.0;
  const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value, format);
  if (ec == std::errc::result_out_of_range) {
    const std::string_view number = rest.substr(0, end - rest.data());
    value = Overflows(number, hex) ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc()) {
    return 0.0;
  }
  return negative ? -value : value;
}

// "%4.3f" in the C locale: every digit of the integer part, whatever the size.
std::string FormatFixed(double value) {
  // The largest double has 309 integer digits; a sign, a point and the decimals come on top.
  char buffer[std::numeric_limits<double>::max_exponent10 + 1 + 8 + kValuePrecision];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value,
                                    std::chars_format::fixed, kValuePrecision);
  if (result.ec != std::errc()) return "0.000";  // cannot happen with the room above
  return std::string(buffer, result.ptr);
}

// A key's text as its type reads it: atoi for flags and whole numbers, atof for the others.
double ParseValue(SettingType type, const std::string& text) {
  switch (type) {
    case SettingType::kReal:
    case SettingType::kFloat:
      return ParseDouble(text);
    case SettingType::kFlag:
    case SettingType::kFlagOne:
    case SettingType::kInt:
    case SettingType::kUnsigned:
    case SettingType::kAxesMap:
      break;
  }
  return ParseInt(text);
}

// A stored value as the file holds it: flags "1" or "0", fractions "%4.3f", whole numbers
// "%d" (an unsigned one as the signed number with its bits).
std::string FormatValue(SettingType type, double value) {
  switch (type) {
    case SettingType::kFlag:
    case SettingType::kFlagOne:
      return value != 0 ? "1" : "0";
    case SettingType::kReal:
    case SettingType::kFloat:
      return FormatFixed(value);
    case SettingType::kInt:
    case SettingType::kAxesMap:
      return std::to_string(static_cast<int32_t>(value));
    case SettingType::kUnsigned:
      return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(value)));
  }
  return {};
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
  if (!LoadFileLossless(document, settings.settingsPath) || !EnterSection(document, false)) return;
  for (const SettingRow& row : SettingsTable()) {
    if (const auto text = ReadKey(document, row.key)) {
      row.set(settings, BringIntoRange(row, ParseValue(row.type, *text)));
    }
  }
}

SettingsSaveResult SaveSettings(const PluginSettings& settings) {
  SettingsSaveResult result;
  if (!settings.hasSettingsPath) return result;
  result.path = settings.settingsPath;
  auto refuse = [&result](std::string reason) {
    result.ok = false;
    result.reason = std::move(reason);
    return result;
  };
  // The document holds every character of the file in the file's own terms, so everything
  // outside the settings element goes back byte for byte.
  XmlDocument document;
  if (!LoadFileLossless(document, settings.settingsPath)) {
    if (const auto error = document.Log().Attribute("file_error", "msg")) {
      return refuse("the file cannot be read (" + *error + ")");
    }
    return refuse("the file is not well-formed XML");
  }
  // Text that could not be read faithfully would be written back changed: the host's file is
  // worth more than our settings, so it is left alone.
  if (document.Log().Has("conversion_loss")) {
    return refuse("the file holds text that cannot be kept as it is");
  }
  // UTF-7 writes the markup itself as "+ADw-" sequences, and the declaration with it: the file
  // would no longer say what it is, and nothing could read it back.
  if (CodePageOfName(DeclaredEncoding(document.Text())) == kCodePageUtf7) {
    return refuse("the file's encoding (UTF-7) cannot be written back readably");
  }
  if (!EnterSection(document, true)) return refuse("the settings element cannot be added");

  for (const SettingRow& row : SettingsTable()) {
    WriteKey(document, row.key, FormatValue(row.type, row.get(settings)));
  }
  if (!SaveFile(document, settings.settingsPath)) {
    const auto error = document.Log().Attribute("file_error", "msg");
    return refuse("the file cannot be written (" + error.value_or("conversion failed") + ")");
  }
  return result;
}

std::string SettingsSaveReport(const SettingsSaveResult& result) {
  if (result.ok) return {};
  return "Torvexan: settings not saved to " + result.path + ": " + result.reason;
}

}  // namespace torvexan
