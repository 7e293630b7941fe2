// The diagnostic log of a parse, load or save: XML text of empty elements, one per event.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace torvexan {

// Once the log is longer than this, further entries are dropped.
inline constexpr size_t kResultLogCapChars = 999;

struct LogAttribute {
  LogAttribute(std::string_view attrName, std::string_view text) : name(attrName), value(text) {}
  LogAttribute(std::string_view attrName, int64_t number)
      : name(attrName), value(std::to_string(number)) {}
  std::string_view name;
  std::string value;
};

class ResultLog {
 public:
  // Appends `<event attr="value" .../>` unless the log is already past its cap.
  void Add(std::string_view event, std::initializer_list<LogAttribute> attributes = {});
  void Append(std::string_view entries) { text_.append(entries); }
  void Clear() { text_.clear(); }
  const std::string& Text() const { return text_; }
  std::string& MutableText() { return text_; }
  bool Has(std::string_view event) const;
  // The value of an attribute of the first entry of an event, unescaped.
  std::optional<std::string> Attribute(std::string_view event, std::string_view name) const;

 private:
  // Offset of the first entry of an event, or npos.
  size_t Find(std::string_view event) const;

  std::string text_;
};

}  // namespace torvexan
