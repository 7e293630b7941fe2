// One XML document held as a single byte string with a flat index of its elements.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "xml/element_store.h"
#include "xml/node_scanner.h"
#include "xml/result_log.h"

namespace torvexan {

// Document flags besides the byte-order-mark bits (see encoding_table.h).
inline constexpr uint32_t kDocIgnoreCase = 0x8;
// AddElement flag: no line breaks around the new element.
inline constexpr uint32_t kAddNoLineBreaks = 0x2;

class XmlDocument {
 public:
  // An empty document whose text is in the given code page (0: the system code page).
  explicit XmlDocument(uint32_t codePage = 0);

  // Replaces the text (none = empty), clears the log and parses; true when well formed.
  bool SetDocument(std::optional<std::string_view> text = std::nullopt);
  bool IsWellFormed() const;

  // Navigation: the next sibling of the main element (or the first child of the parent) whose
  // name matches; no name matches any element.
  bool FindElement(std::optional<std::string_view> name = std::nullopt);
  bool IntoElement();
  // The parent becomes the main element again and its own parent the parent; false at top
  // level. Lets a caller walk the whole tree with one position.
  bool OutOfElement();
  void ResetMainPosition();

  std::string GetElementData(ElementNumber element) const;
  bool SetElementData(ElementNumber element, std::string_view text);
  // Adds an element after the main element, or as the parent's last child; it becomes the
  // main element.
  bool AddElement(std::string_view name, std::optional<std::string_view> value, uint32_t flags);
  bool SetAttribute(ElementNumber element, std::string_view name, std::string_view text);

  ElementNumber ParentElement() const { return parent_; }
  ElementNumber MainElement() const { return main_; }
  ElementNumber ChildElement() const { return child_; }
  int NodeType() const { return nodeType_; }

  const std::string& Text() const { return text_; }
  const std::string& ResultText() const { return log_.Text(); }
  ResultLog& Log() { return log_; }
  uint32_t DocFlags() const { return docFlags_; }
  void SetDocFlags(uint32_t flags) { docFlags_ = flags; }
  uint32_t CodePage() const { return codePage_; }
  // The code page the text is in from now on (0: the system code page); file input sets it
  // before it hands over text read in another code page.
  void SetCodePage(uint32_t codePage);
  const uint8_t* CharWidthTable() const { return widths_; }

  const ElementStore& Index() const { return store_; }
  std::string_view ElementName(ElementNumber element) const;

  // File input puts the text here and then calls Parse; the log is left as it is.
  void TakeText(std::string&& text) { text_ = std::move(text); }
  void Parse();

  // The encoding the text was read with from a file, if it came from one (empty: the code page
  // of the document itself); saving falls back to it rather than to UTF-8.
  const std::optional<std::string>& SourceEncoding() const { return sourceEncoding_; }
  void SetSourceEncoding(std::optional<std::string> encoding) {
    sourceEncoding_ = std::move(encoding);
  }

 private:
  class IndexBuilder;  // Parse's one pass over the nodes
  struct Insertion;    // where AddElement puts a new element's text

  // Where a new element goes: after the main element, or as the parent's last child.
  Insertion PlaceNewElement(bool lineBreaks) const;

  NodeScanner Scanner() const { return NodeScanner(text_, widths_); }
  // The element becomes the main element, among its siblings.
  void MoveTo(ElementNumber element);
  bool NameMatches(ElementNumber element, std::string_view searched) const;
  bool NamesEqual(std::string_view a, std::string_view b) const;
  int32_t ContentStart(ElementNumber element) const;
  int32_t ContentEnd(ElementNumber element) const;
  // Replaces text [from, to) and moves every record behind it, growing those around it.
  void Replace(int32_t from, int32_t to, std::string_view with);
  void LinkAfter(ElementNumber element, ElementNumber after, ElementNumber parent);

  std::string text_;
  ResultLog log_;
  ElementNumber parent_ = 0;
  ElementNumber main_ = 0;
  ElementNumber child_ = 0;
  int nodeType_ = 0;
  int32_t nodeOffset_ = 0;
  int32_t nodeLength_ = 0;
  uint32_t docFlags_ = 0;
  uint32_t codePage_ = 0;
  uint8_t widths_[256];
  ElementStore store_;
  std::optional<std::string> sourceEncoding_;
};

// Whether a searched name has one of the forms FindElement accepts (a relative name with
// optional bracketed parts and further segments); widths as for the document's code page.
bool IsRelativeElementPath(std::string_view name, const uint8_t* widths);

}  // namespace torvexan
