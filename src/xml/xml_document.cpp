// Construction, navigation and reading of an XmlDocument.
#include "xml/xml_document.h"

#include <algorithm>

#include "xml/char_refs.h"
#include "xml/code_page.h"

namespace torvexan {
namespace {

bool IsAsciiLetter(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
uint8_t FoldAscii(uint8_t c) {
  return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// Characters after which a searched name counts as ended.
bool EndsSearchedName(char c) {
  return c == ' ' || c == '=' || c == '/' || c == '[' || c == ']';
}

// Length of a name in a search path: up to white space, a name delimiter, "[", "]" or "@".
size_t PathNameLength(std::string_view s, const uint8_t* widths) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<uint8_t>(s[i]);
    if (EndsName(c) || c == '[' || c == ']' || c == '@') break;
    i += CharLength(s, i, widths);
  }
  return i;
}

// One "[...]" part: a digit 1 to 9, or "@name" optionally followed by "=value".
bool TakeBracket(std::string_view& s, const uint8_t* widths) {
  if (s.empty() || s[0] != '[') return false;
  const size_t close = s.find(']');
  if (close == std::string_view::npos) return false;
  const std::string_view inner = s.substr(1, close - 1);
  s.remove_prefix(close + 1);
  if (inner.size() == 1 && inner[0] >= '1' && inner[0] <= '9') return true;
  if (inner.empty() || inner[0] != '@') return false;
  const size_t nameLength = PathNameLength(inner.substr(1), widths);
  if (nameLength == 0) return false;
  const std::string_view rest = inner.substr(1 + nameLength);
  return rest.empty() || rest[0] == '=';
}

}  // namespace

bool IsRelativeElementPath(std::string_view name, const uint8_t* widths) {
  if (name.empty() || name[0] == '/') return false;
  for (;;) {
    const size_t nameLength = PathNameLength(name, widths);
    if (nameLength == 0) return false;
    name.remove_prefix(nameLength);
    while (!name.empty() && name[0] == '[') {
      if (!TakeBracket(name, widths)) return false;
    }
    if (name.empty()) return true;
    if (name[0] != '/') return false;
    name.remove_prefix(1);
  }
}

XmlDocument::XmlDocument(uint32_t codePage) {
  SetCodePage(codePage);
  SetDocument();
}

void XmlDocument::SetCodePage(uint32_t codePage) {
  codePage_ = codePage ? codePage : SystemCodePage();
  CharWidths(codePage_, widths_);
}

bool XmlDocument::SetDocument(std::optional<std::string_view> text) {
  text_.assign(text ? *text : std::string_view());
  log_.Clear();
  sourceEncoding_.reset();
  Parse();
  return IsWellFormed();
}

bool XmlDocument::IsWellFormed() const {
  const ElementNumber root = store_[0].firstChild;
  return (store_[0].flagsAndLevel & kNotWellFormed) == 0 && root != 0 &&
         store_[root].nextSibling == 0;
}

std::string_view XmlDocument::ElementName(ElementNumber element) const {
  if (!store_.Valid(element)) return {};
  const int32_t nameStart = store_[element].start + 1;
  return std::string_view(text_).substr(nameStart, Scanner().NameEnd(nameStart) - nameStart);
}

bool XmlDocument::NameMatches(ElementNumber element, std::string_view searched) const {
  const std::string_view name = ElementName(element);
  if (searched.size() < name.size()) return false;
  if (searched.size() > name.size() && !EndsSearchedName(searched[name.size()])) return false;
  return NamesEqual(name, searched.substr(0, name.size()));
}

bool XmlDocument::NamesEqual(std::string_view a, std::string_view b) const {
  if ((docFlags_ & kDocIgnoreCase) == 0) return a == b;
  // Past a byte of a multi-byte character, trail bytes may look like ASCII letters: from there
  // on the bytes must be equal exactly.
  for (size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<uint8_t>(a[i]);
    const auto y = static_cast<uint8_t>(b[i]);
    if (x == y && x >= 0x80) return a.substr(i) == b.substr(i);
    if (x != y && !(IsAsciiLetter(x) && FoldAscii(x) == FoldAscii(y))) return false;
  }
  return true;
}

bool XmlDocument::FindElement(std::optional<std::string_view> name) {
  const bool any = !name || name->empty();
  if (!any && !IsRelativeElementPath(*name, widths_)) return false;
  ElementNumber candidate = main_ ? store_[main_].nextSibling : store_[parent_].firstChild;
  for (; candidate; candidate = store_[candidate].nextSibling) {
    if (any || NameMatches(candidate, *name)) break;
  }
  if (candidate == 0) return false;
  MoveTo(candidate);
  return true;
}

bool XmlDocument::IntoElement() {
  if (main_ == 0 || nodeType_ != 1) return false;
  parent_ = main_;
  main_ = child_;
  child_ = 0;
  nodeOffset_ = nodeLength_ = 0;
  nodeType_ = main_ ? 1 : 0;
  return true;
}

bool XmlDocument::OutOfElement() {
  if (parent_ == 0) return false;
  MoveTo(parent_);
  return true;
}

void XmlDocument::MoveTo(ElementNumber element) {
  main_ = element;
  parent_ = store_[element].parent;
  child_ = 0;
  nodeOffset_ = nodeLength_ = 0;
  nodeType_ = 1;
}

void XmlDocument::ResetMainPosition() {
  main_ = child_ = 0;
  nodeOffset_ = nodeLength_ = 0;
  nodeType_ = 0;
}

int32_t XmlDocument::ContentStart(ElementNumber element) const {
  const ElementRecord& r = store_[element];
  if (r.StartTagLength() < kStartTagMax) return r.start + static_cast<int32_t>(r.StartTagLength());
  return Scanner().Scan(r.start).end;  // a start tag too long for its field
}

int32_t XmlDocument::ContentEnd(ElementNumber element) const {
  const ElementRecord& r = store_[element];
  if (r.EndTagLength() < kEndTagMax) return r.End() - static_cast<int32_t>(r.EndTagLength());
  return static_cast<int32_t>(text_.rfind('<', r.End() - 1));  // an end tag too long for its field
}

std::string XmlDocument::GetElementData(ElementNumber element) const {
  std::string data;
  if (!store_.Valid(element)) return data;
  const ElementRecord& r = store_[element];
  if (r.firstChild != 0 || r.EndTagLength() == 0) return data;
  const int32_t from = ContentStart(element);
  const int32_t to = ContentEnd(element);
  const std::string_view content = std::string_view(text_).substr(from, to - from);
  if (content.find('<') == std::string_view::npos) {
    AppendDecoded(content, codePage_, widths_, data);
    return data;
  }
  const NodeScanner scanner(std::string_view(text_).substr(0, to), widths_);
  for (int32_t offset = from; offset < to;) {
    const ScannedNode node = scanner.Scan(offset);
    const std::string_view nodeText =
        std::string_view(text_).substr(node.start, node.end - node.start);
    if (node.type == kNodeText || node.type == kNodeWhitespace) {
      AppendDecoded(nodeText, codePage_, widths_, data);
    } else if (node.type == kNodeCdata) {
      const size_t open = std::min(kCdataOpen.size(), nodeText.size() - kCdataClose.size());
      data.append(nodeText.substr(open, nodeText.size() - kCdataClose.size() - open));
    }
    offset = node.end;
  }
  return data;
}

}  // namespace torvexan
