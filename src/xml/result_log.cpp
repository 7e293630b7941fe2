#include "xml/result_log.h"

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

bool ResultLog::Has(std::string_view event) const {
  for (size_t at = text_.find('<'); at != std::string::npos; at = text_.find('<', at + 1)) {
    const size_t end = at + 1 + event.size();
    if (text_.compare(at + 1, event.size(), event) == 0 && end < text_.size() &&
        (text_[end] == ' ' || text_[end] == '/')) {
      return true;
    }
  }
  return false;
}

}  // namespace torvexan
