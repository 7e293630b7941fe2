// Edits of an XmlDocument: each is a replacement in the text followed by moving the records.
#include "xml/char_refs.h"
#include "xml/xml_document.h"

namespace torvexan {
namespace {

constexpr size_t kGrowthSlackBytes = 128;
constexpr std::string_view kLineBreak = "\r\n";

bool IsElementName(std::string_view name) {
  if (name.empty() || !StartsName(static_cast<uint8_t>(name[0]))) return false;
  for (char c : name) {
    if (EndsName(static_cast<uint8_t>(c))) return false;
  }
  return true;
}

// One attribute of a start tag: where its name lies and where its value (with quotes) lies.
struct AttributeSpan {
  int32_t nameStart, nameEnd, valueStart, valueEnd, end;
};

}  // namespace

void XmlDocument::Replace(int32_t from, int32_t to, std::string_view with) {
  const int64_t delta = static_cast<int64_t>(with.size()) - (to - from);
  const size_t newSize = text_.size() + delta;
  if (newSize > text_.capacity()) text_.reserve(newSize + newSize / 2 + kGrowthSlackBytes);
  text_.replace(from, to - from, with);
  for (ElementNumber n = 1; n < store_.NextFree(); ++n) {
    ElementRecord& r = store_[n];
    if (r.start >= to) {
      r.start += static_cast<int32_t>(delta);
    } else if (r.start < from && r.End() > from) {
      r.length += static_cast<int32_t>(delta);
    }
  }
}

void XmlDocument::LinkAfter(ElementNumber element, ElementNumber after, ElementNumber parent) {
  ElementRecord& r = store_[element];
  r.parent = parent;
  r.previousSibling = after;
  r.nextSibling = store_[after].nextSibling;
  if (r.nextSibling) {
    store_[r.nextSibling].previousSibling = element;
  } else {
    store_[store_[parent].firstChild].previousSibling = element;
  }
  store_[after].nextSibling = element;
}

bool XmlDocument::SetElementData(ElementNumber element, std::string_view text) {
  if (!store_.Valid(element)) return false;
  const ElementRecord& r = store_[element];
  if (r.firstChild != 0 || (r.flagsAndLevel & kNoEndTag)) return false;
  std::string replacement;
  AppendEscaped(text, false, replacement);
  if (r.EndTagLength() == 0) {
    // <X/> becomes <X>text</X>: the "/" goes and an end tag follows the text.
    const std::string name(ElementName(element));
    const int32_t slash = r.start + static_cast<int32_t>(r.StartTagLength()) - 2;
    replacement.insert(replacement.begin(), '>');
    replacement.append("</").append(name).append(">");
    const uint32_t startTag = r.StartTagLength() - 1;
    Replace(slash, slash + 2, replacement);
    store_[element].SetTagLengths(startTag, static_cast<uint32_t>(name.size() + 3));
  } else {
    Replace(ContentStart(element), ContentEnd(element), replacement);
  }
  return true;
}

bool XmlDocument::AddElement(std::string_view name, std::optional<std::string_view> value,
                             uint32_t flags) {
  if (!IsElementName(name)) return false;
  const bool lineBreaks = (flags & kAddNoLineBreaks) == 0;
  const ElementNumber parent = parent_;
  const ElementRecord& p = store_[parent];
  if (parent != 0 && (p.flagsAndLevel & kNoEndTag)) return false;

  std::string element = "<";
  element.append(name);
  uint32_t startTag, endTag = 0;
  if (value) {
    element.push_back('>');
    startTag = static_cast<uint32_t>(element.size());
    AppendEscaped(*value, false, element);
    element.append("</").append(name).append(">");
    endTag = static_cast<uint32_t>(name.size() + 3);
  } else {
    element.append("/>");
    startTag = static_cast<uint32_t>(element.size());
  }

  std::string insert;
  int32_t from, to;
  bool openedParent = false;
  if (main_ != 0) {
    from = store_[main_].End();
    // Blank lines after the main element stay with it; the new element follows them.
    int32_t i = from;
    while (i < static_cast<int32_t>(text_.size()) && IsXmlSpace(static_cast<uint8_t>(text_[i]))) {
      ++i;
    }
    if (i == static_cast<int32_t>(text_.size()) || text_[i] == '<') from = i;
    to = from;
  } else if (parent == 0) {
    from = to = static_cast<int32_t>(text_.size());
  } else if (p.EndTagLength() == 0) {
    // The parent was <P/>: "/>" becomes ">" and the parent gets an end tag after the new child.
    from = p.start + static_cast<int32_t>(p.StartTagLength()) - 2;
    to = from + 2;
    insert = ">";
    if (lineBreaks) insert.append(kLineBreak);
    openedParent = true;
  } else {
    from = to = ContentEnd(parent);
    if (lineBreaks && from == ContentStart(parent)) insert.append(kLineBreak);
  }
  const int32_t elementOffset = static_cast<int32_t>(insert.size());
  insert.append(element);
  if (lineBreaks) insert.append(kLineBreak);
  std::string parentName;
  if (openedParent) {
    parentName = ElementName(parent);
    insert.append("</").append(parentName).append(">");
  }
  const uint32_t parentStartTag = p.StartTagLength() - 1;
  Replace(from, to, insert);
  if (openedParent) {
    store_[parent].SetTagLengths(parentStartTag, static_cast<uint32_t>(parentName.size() + 3));
  }

  const ElementNumber n = store_.Take();
  ElementRecord& r = store_[n];
  r.start = from + elementOffset;
  r.length = static_cast<int32_t>(element.size());
  r.SetTagLengths(startTag, endTag);
  r.SetLevel(parent == 0 ? 0 : store_[parent].Level() + 1);
  if (main_ != 0) {
    LinkAfter(n, main_, parent);
  } else {
    store_.LinkLast(n, parent);
  }
  main_ = n;
  child_ = 0;
  nodeOffset_ = nodeLength_ = 0;
  nodeType_ = 1;
  return true;
}

bool XmlDocument::SetAttribute(ElementNumber element, std::string_view name,
                               std::string_view text) {
  if (!store_.Valid(element) || !IsElementName(name)) return false;
  const ElementRecord& r = store_[element];
  const NodeScanner scanner = Scanner();
  const int32_t tagEnd = ContentStart(element);
  const auto at = [this](int32_t i) { return static_cast<uint8_t>(text_[i]); };
  // A value runs at most to the tag's end; in an empty element's tag not into its "/>", or a new
  // attribute would land between the two and end the element's emptiness.
  const bool emptyTag = r.EndTagLength() == 0 && !(r.flagsAndLevel & kNoEndTag) &&
                        tagEnd - r.start >= 2 && at(tagEnd - 1) == '>' && at(tagEnd - 2) == '/';
  const int32_t valueLimit = emptyTag ? tagEnd - 2 : tagEnd;
  // The end of the name, or of the last attribute: where a new attribute goes.
  int32_t lastEnd = scanner.NameEnd(r.start + 1);
  std::optional<AttributeSpan> found;
  for (int32_t i = lastEnd; i < tagEnd;) {
    while (i < tagEnd && IsXmlSpace(at(i))) ++i;
    if (i >= tagEnd || at(i) == '>' || at(i) == '/') break;
    AttributeSpan span{};
    span.nameStart = i;
    span.nameEnd = scanner.NameEnd(i);
    if (span.nameEnd == i) break;  // not an attribute: leave the rest of the tag alone
    i = span.nameEnd;
    while (i < tagEnd && IsXmlSpace(at(i))) ++i;
    span.valueStart = span.valueEnd = span.nameEnd;
    if (i < tagEnd && at(i) == '=') {
      ++i;
      while (i < tagEnd && IsXmlSpace(at(i))) ++i;
      span.valueStart = i;
      if (i < tagEnd && (at(i) == '"' || at(i) == '\'')) {
        const size_t close = text_.find(static_cast<char>(at(i)), i + 1);
        i = (close == std::string::npos || static_cast<int32_t>(close) >= valueLimit)
                ? std::min(tagEnd - 1, valueLimit)
                : static_cast<int32_t>(close) + 1;
      } else {
        while (i < valueLimit && !IsXmlSpace(at(i)) && at(i) != '>') ++i;
      }
      span.valueEnd = i;
    }
    span.end = std::max(span.valueEnd, span.nameEnd);
    lastEnd = span.end;
    if (std::string_view(text_).substr(span.nameStart, span.nameEnd - span.nameStart) == name) {
      found = span;
      break;
    }
  }
  std::string quoted = "\"";
  AppendEscaped(text, true, quoted);
  quoted.push_back('"');
  int32_t from, to;
  std::string replacement;
  if (found && found->valueStart != found->nameEnd) {
    from = found->valueStart;
    to = found->valueEnd;
    replacement = quoted;
  } else if (found) {
    from = to = found->nameEnd;
    replacement = std::string("=").append(quoted);
  } else {
    from = to = lastEnd;
    replacement = std::string(" ").append(name).append("=").append(quoted);
  }
  const int64_t delta = static_cast<int64_t>(replacement.size()) - (to - from);
  const uint32_t startTag = static_cast<uint32_t>(tagEnd - r.start + delta);
  const uint32_t endTag = r.EndTagLength();
  const int32_t tagStart = r.start;
  const ScannedNode before = scanner.Scan(tagStart);
  const std::string original = text_.substr(from, to - from);
  Replace(from, to, replacement);
  // A tag the attribute walk reads otherwise than the parser (stray quotes, values without
  // quotes) could change its extent or its emptiness: such an edit is taken back and refused.
  const ScannedNode after = Scanner().Scan(tagStart);
  if (after.type != before.type || after.emptyElement != before.emptyElement ||
      after.end - before.end != delta) {
    Replace(from, from + static_cast<int32_t>(replacement.size()), original);
    return false;
  }
  store_[element].SetTagLengths(startTag, endTag);
  return true;
}

}  // namespace torvexan
