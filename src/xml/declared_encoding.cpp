// Finding the encoding a document declares in its first bytes.
#include <algorithm>

#include "xml/node_scanner.h"
#include "xml/text_file.h"

namespace torvexan {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool IsSpace(char c) {
  return IsXmlSpace(static_cast<uint8_t>(c));
}

// The value of an attribute of a tag (names compared without regard to case), or nothing.
std::string_view AttributeValue(std::string_view tag, size_t from, std::string_view attribute) {
  size_t i = from;
  while (i < tag.size()) {
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    const size_t nameStart = i;
    while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '=' && tag[i] != '>' && tag[i] != '/' &&
           tag[i] != '?') {
      ++i;
    }
    const std::string_view name = tag.substr(nameStart, i - nameStart);
    if (name.empty()) {
      ++i;
      continue;
    }
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    if (i >= tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    size_t valueStart = i, valueEnd;
    if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
      const size_t close = tag.find(tag[i], i + 1);
      valueStart = i + 1;
      valueEnd = close == std::string_view::npos ? tag.size() : close;
      i = valueEnd + 1;
    } else {
      while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '>') ++i;
      valueEnd = i;
    }
    if (EqualNoCase(name, attribute)) return tag.substr(valueStart, valueEnd - valueStart);
  }
  return {};
}

// "text/html; charset=iso-8859-1" gives "iso-8859-1".
std::string_view CharsetOf(std::string_view content) {
  for (size_t at = 0; at + 7 <= content.size(); ++at) {
    if (!EqualNoCase(content.substr(at, 7), "charset")) continue;
    size_t i = at + 7;
    while (i < content.size() && IsSpace(content[i])) ++i;
    if (i >= content.size() || content[i] != '=') continue;
    ++i;
    while (i < content.size() && IsSpace(content[i])) ++i;
    const size_t start = i;
    while (i < content.size() && !IsSpace(content[i]) && content[i] != ';' && content[i] != '"' &&
           content[i] != '\'') {
      ++i;
    }
    return content.substr(start, i - start);
  }
  return {};
}

}  // namespace

std::string DeclaredEncoding(std::string_view text) {
  uint8_t widths[256];
  std::fill(std::begin(widths), std::end(widths), uint8_t{1});
  const NodeScanner scanner(text, widths);
  bool html = false;
  bool sawElement = false;
  for (int32_t offset = 0;;) {
    const ScannedNode node = scanner.Scan(offset);
    // A syntax error ends nothing: an HTML head often holds a stray "<" in its title.
    if (node.type == kNodeEndOfDocument) break;
    const std::string_view tag = text.substr(node.start, node.end - node.start);
    if (node.type == kNodeProcessingInstruction) {
      const int32_t nameEnd = scanner.NameEnd(node.start + 2);
      if (EqualNoCase(text.substr(node.start + 2, nameEnd - node.start - 2), "xml")) {
        return std::string(AttributeValue(tag, nameEnd - node.start, "encoding"));
      }
    } else if (node.type == kNodeElement) {
      const int32_t nameEnd = scanner.NameEnd(node.start + 1);
      const std::string_view name = text.substr(node.start + 1, nameEnd - node.start - 1);
      if (!sawElement) html = EqualNoCase(name, "html");
      sawElement = true;
      if (!html) break;
      if (EqualNoCase(name, "meta") &&
          EqualNoCase(AttributeValue(tag, nameEnd - node.start, "http-equiv"), "Content-Type")) {
        return std::string(CharsetOf(AttributeValue(tag, nameEnd - node.start, "content")));
      }
    } else if (node.type == kNodeEndTag) {
      const int32_t nameEnd = scanner.NameEnd(node.start + 2);
      if (EqualNoCase(text.substr(node.start + 2, nameEnd - node.start - 2), "head")) break;
    }
    offset = node.end;
  }
  return {};
}

}  // namespace torvexan
