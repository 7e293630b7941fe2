// Compares the element index of an edited document with a fresh parse of its text.
#pragma once

#include <string>

#include "xml/code_page.h"
#include "xml/xml_document.h"

namespace torvexan::testing {

inline XmlDocument Utf8Document(std::string_view text) {
  XmlDocument document(kCodePageUtf8);
  document.SetDocument(text);
  return document;
}

// One line per element in document order: level, start, length, tag lengths, name and flags,
// found by walking first-child and next-sibling links. Broken links are counted in linkErrors
// and marked in the text.
inline std::string DescribeIndex(const XmlDocument& document, int* linkErrors = nullptr) {
  int errors = 0;
  const ElementStore& index = document.Index();
  std::string out;
  auto walk = [&](auto&& self, ElementNumber parent) -> void {
    ElementNumber last = 0;
    for (ElementNumber n = index[parent].firstChild; n; n = index[n].nextSibling) {
      const ElementRecord& r = index[n];
      out += std::to_string(r.Level()) + " " + std::to_string(r.start) + " " +
             std::to_string(r.length) + " " + std::to_string(r.tagLengths) + " " +
             std::string(document.ElementName(n)) + " " +
             std::to_string(r.flagsAndLevel & (kFirstChild | kNoEndTag)) +
             (r.parent != parent ? " wrong-parent" : "") +
             (n != index[parent].firstChild && r.previousSibling != last ? " wrong-previous" : "") +
             "\n";
      errors += (r.parent != parent) + (n != index[parent].firstChild && r.previousSibling != last);
      last = n;
      self(self, n);
    }
    const ElementNumber first = index[parent].firstChild;
    if (first && index[first].previousSibling != last) {
      out += "wrong-last-child\n";
      ++errors;
    }
  };
  walk(walk, 0);
  if (linkErrors) *linkErrors = errors;
  return out;
}

inline std::string DescribeFreshParse(const XmlDocument& document) {
  XmlDocument fresh(document.CodePage());
  fresh.SetDocFlags(document.DocFlags());
  fresh.SetDocument(document.Text());
  return DescribeIndex(fresh);
}

}  // namespace torvexan::testing
