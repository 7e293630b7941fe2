#include "xml/result_log.h"

#include <utility>

#include "xml/char_refs.h"

namespace torvexan {

void ResultLog::Add(std::string_view event, std::initializer_list<LogAttribute> attributes) {
  if (text_.size() > kResultLogCapChars) return;
  text_.push_back('<');
  text_.append(event);
  for (const LogAttribute& attribute : attributes) {
    text_.push_back(' ');
    text_.append(attribute.name);
    text_.append("=\"");
    AppendEscaped(attribute.value, true, text_);
    text_.push_back('"');
  }
  text_.append("/>");
}

size_t ResultLog::Find(std::string_view event) const {
  for (size_t at = text_.find('<'); at != std::string::npos; at = text_.find('<', at + 1)) {
    const size_t end = at + 1 + event.size();
    if (text_.compare(at + 1, event.size(), event) == 0 && end < text_.size() &&
        (text_[end] == ' ' || text_[end] == '/')) {
      return at;
    }
  }
  return std::string::npos;
}

bool ResultLog::Has(std::string_view event) const {
  return Find(event) != std::string::npos;
}

std::optional<std::string> ResultLog::Attribute(std::string_view event,
                                                std::string_view name) const {
  const size_t entry = Find(event);
  if (entry == std::string::npos) return std::nullopt;
  const std::string_view text = std::string_view(text_).substr(0, text_.find("/>", entry));
  std::string key(" ");  // appended piece by piece: GCC 12 warns wrongly on "+" chains here
  key.append(name).append("=\"");
  const size_t at = text.find(key, entry);
  if (at == std::string_view::npos) return std::nullopt;
  const size_t from = at + key.size();
  const std::string_view value = text.substr(from, text.find('"', from) - from);
  // Values hold no "<" and only the escapes AppendEscaped writes.
  static constexpr std::pair<std::string_view, char> kEscapes[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
  std::string out;
  for (size_t i = 0; i < value.size();) {
    bool replaced = false;
    for (const auto& [escape, c] : kEscapes) {
      if (value.substr(i).starts_with(escape)) {
        out.push_back(c);
        i += escape.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out.push_back(value[i++]);
  }
  return out;
}

}  // namespace torvexan
