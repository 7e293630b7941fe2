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

// The attribute of a start tag that SetAttribute looks for, and the end of the tag's name or
// last attribute (where a new attribute goes).
struct AttributeSearch {
  std::optional<AttributeSpan> found;
  int32_t lastEnd;
};

// A start tag as the attribute walk reads it: its text, where it ends and how far a value may
// run (in an empty element's tag not into its "/>", or a new attribute would land between the
// two and end the element's emptiness).
struct TagText {
  std::string_view text;
  const NodeScanner& scanner;
  int32_t tagEnd;
  int32_t valueLimit;

  uint8_t At(int32_t i) const { return static_cast<uint8_t>(text[i]); }
  int32_t SkipSpace(int32_t i) const {
    while (i < tagEnd && IsXmlSpace(At(i))) ++i;
    return i;
  }
  // The end of a value starting at i: past its closing quote, or at the first blank or ">"
  // when unquoted.
  int32_t ValueEnd(int32_t i) const {
    if (i < tagEnd && (At(i) == '"' || At(i) == '\'')) {
      const size_t close = text.find(static_cast<char>(At(i)), i + 1);
      return (close == std::string_view::npos || static_cast<int32_t>(close) >= valueLimit)
                 ? std::min(tagEnd - 1, valueLimit)
                 : static_cast<int32_t>(close) + 1;
    }
    while (i < valueLimit && !IsXmlSpace(At(i)) && At(i) != '>') ++i;
    return i;
  }
  // The attribute starting at i (after blanks), or nullopt where none starts.
  std::optional<AttributeSpan> ReadAttribute(int32_t i) const {
    if (i >= tagEnd || At(i) == '>' || At(i) == '/') return std::nullopt;
    AttributeSpan span{};
    span.nameStart = i;
    span.nameEnd = scanner.NameEnd(i);
    if (span.nameEnd == i) return std::nullopt;  // not an attribute: the rest stays as it is
    i = SkipSpace(span.nameEnd);
    span.valueStart = span.valueEnd = span.nameEnd;
    if (i < tagEnd && At(i) == '=') {
      span.valueStart = SkipSpace(i + 1);
      span.valueEnd = ValueEnd(span.valueStart);
    }
    span.end = std::max(span.valueEnd, span.nameEnd);
    return span;
  }
  AttributeSearch Find(int32_t nameEnd, std::string_view name) const {
    AttributeSearch search{std::nullopt, nameEnd};
    for (int32_t i = nameEnd; i < tagEnd;) {
      const std::optional<AttributeSpan> span = ReadAttribute(SkipSpace(i));
      if (!span) break;
      search.lastEnd = i = span->end;
      if (text.substr(span->nameStart, span->nameEnd - span->nameStart) == name) {
        search.found = span;
        break;
      }
    }
    return search;
  }
};

// The text replacing [from, to) of a start tag to give it the attribute with the quoted value.
struct AttributeEdit {
  int32_t from, to;
  std::string replacement;
};

AttributeEdit EditFor(const AttributeSearch& search, std::string_view name,
                      const std::string& quoted) {
  const std::optional<AttributeSpan>& found = search.found;
  if (found && found->valueStart != found->nameEnd) {
    return {found->valueStart, found->valueEnd, quoted};
  }
  if (found) return {found->nameEnd, found->nameEnd, std::string("=").append(quoted)};
  return {search.lastEnd, search.lastEnd, std::string(" ").append(name).append("=").append(quoted)};
}

// The markup of a new element, and the lengths of its start and end tags.
std::string ElementMarkup(std::string_view name, std::optional<std::string_view> value,
                          uint32_t& startTag, uint32_t& endTag) {
  std::string element = "<";
  element.append(name);
  endTag = 0;
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
  return element;
}

}  // namespace

// Where a new element's text goes: [from, to) becomes prefix, the element, a line break when
// asked for, and the end tag of a parent that was written as an empty-element tag.
struct XmlDocument::Insertion {
  int32_t from = 0;
  int32_t to = 0;
  std::string prefix;
  bool openedParent = false;
};

XmlDocument::Insertion XmlDocument::PlaceNewElement(bool lineBreaks) const {
  Insertion at;
  const ElementRecord& p = store_[parent_];
  if (main_ != 0) {
    at.from = store_[main_].End();
    // Blank lines after the main element stay with it; the new element follows them.
    int32_t i = at.from;
    while (i < static_cast<int32_t>(text_.size()) && IsXmlSpace(static_cast<uint8_t>(text_[i]))) {
      ++i;
    }
    if (i == static_cast<int32_t>(text_.size()) || text_[i] == '<') at.from = i;
    at.to = at.from;
  } else if (parent_ == 0) {
    at.from = at.to = static_cast<int32_t>(text_.size());
  } else if (p.EndTagLength() == 0) {
    // The parent was <P/>: "/>" becomes ">" and the parent gets an end tag after the new child.
    at.from = p.start + static_cast<int32_t>(p.StartTagLength()) - 2;
    at.to = at.from + 2;
    at.prefix.push_back('>');
    if (lineBreaks) at.prefix.append(kLineBreak);
    at.openedParent = true;
  } else {
    at.from = at.to = ContentEnd(parent_);
    if (lineBreaks && at.from == ContentStart(parent_)) at.prefix.append(kLineBreak);
  }
  return at;
}

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
  if (parent != 0 && (store_[parent].flagsAndLevel & kNoEndTag)) return false;
  uint32_t startTag = 0, endTag = 0;
  const std::string element = ElementMarkup(name, value, startTag, endTag);

  const Insertion at = PlaceNewElement(lineBreaks);
  std::string insert = at.prefix;
  insert.append(element);
  if (lineBreaks) insert.append(kLineBreak);
  std::string parentName;
  if (at.openedParent) {
    parentName = ElementName(parent);
    insert.append("</").append(parentName).append(">");
  }
  const uint32_t parentStartTag = store_[parent].StartTagLength() - 1;
  Replace(at.from, at.to, insert);
  if (at.openedParent) {
    store_[parent].SetTagLengths(parentStartTag, static_cast<uint32_t>(parentName.size() + 3));
  }

  const ElementNumber n = store_.Take();
  ElementRecord& r = store_[n];
  r.start = at.from + static_cast<int32_t>(at.prefix.size());
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
  const bool emptyTag = r.EndTagLength() == 0 && !(r.flagsAndLevel & kNoEndTag) &&
                        tagEnd - r.start >= 2 && at(tagEnd - 1) == '>' && at(tagEnd - 2) == '/';
  const TagText tag{text_, scanner, tagEnd, emptyTag ? tagEnd - 2 : tagEnd};
  const AttributeSearch search = tag.Find(scanner.NameEnd(r.start + 1), name);
  std::string quoted = "\"";
  AppendEscaped(text, true, quoted);
  quoted.push_back('"');
  const AttributeEdit edit = EditFor(search, name, quoted);

  const int64_t delta = static_cast<int64_t>(edit.replacement.size()) - (edit.to - edit.from);
  const uint32_t startTag = static_cast<uint32_t>(tagEnd - r.start + delta);
  const uint32_t endTag = r.EndTagLength();
  const int32_t tagStart = r.start;
  const ScannedNode before = scanner.Scan(tagStart);
  const std::string original = text_.substr(edit.from, edit.to - edit.from);
  Replace(edit.from, edit.to, edit.replacement);
  // A tag the attribute walk reads otherwise than the parser (stray quotes, values without
  // quotes) could change its extent or its emptiness: such an edit is taken back and refused.
  const ScannedNode after = Scanner().Scan(tagStart);
  if (after.type != before.type || after.emptyElement != before.emptyElement ||
      after.end - before.end != delta) {
    Replace(edit.from, edit.from + static_cast<int32_t>(edit.replacement.size()), original);
    return false;
  }
  store_[element].SetTagLengths(startTag, endTag);
  return true;
}

}  // namespace torvexan
