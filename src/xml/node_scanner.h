// Reads one node of XML text at a time: tags, text, comments and the like.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace torvexan {

enum NodeType : int {
  kNodeEndTag = 0,
  kNodeElement = 1,
  kNodeText = 2,
  kNodeWhitespace = 4,
  kNodeCdata = 8,
  kNodeProcessingInstruction = 16,
  kNodeComment = 32,
  kNodeDocumentType = 64,
  kNodeError = -1,
  kNodeEndOfDocument = -2,
};

struct ScannedNode {
  int type = kNodeEndOfDocument;
  int32_t start = 0;  // the node's first byte
  int32_t end = 0;    // just past its last byte
  bool emptyElement = false;
  int32_t nameEnd = 0;  // start and end tags: where the element name ends
  // For errors: the event name, and for unterminated tags the kind of tag.
  const char* error = nullptr;
  const char* unterminatedType = nullptr;
  int32_t errorOffset = 0;
};

// The opening of a CDATA section; its text starts after it.
inline constexpr std::string_view kCdataOpen = "<![CDATA[";
inline constexpr std::string_view kCdataClose = "]]>";

// No code page uses a byte below this as a trail byte.
inline constexpr uint8_t kLowestTrailByte = 0x40;
// Character-width table entries: the width in the low bits, and a mark on UTF-8 lead bytes,
// whose trail bytes are exactly 0x80..0xBF.
inline constexpr uint8_t kCharWidthMask = 0x0F;
inline constexpr uint8_t kUtf8LeadMark = 0x80;

// Bytes taken by the character at `i`. A lead byte whose trail bytes are missing or cannot be
// trail bytes (markup such as quotes and ">", which no code page uses as a trail byte, and in
// UTF-8 anything outside 0x80..0xBF) stands alone, so that a broken character never swallows
// markup.
inline size_t CharLength(std::string_view text, size_t i, const uint8_t* widths) {
  const uint8_t entry = widths[static_cast<uint8_t>(text[i])];
  if (entry == 1) return 1;
  const size_t width = entry & kCharWidthMask;
  if (i + width > text.size()) return 1;
  for (size_t k = 1; k < width; ++k) {
    const auto trail = static_cast<uint8_t>(text[i + k]);
    const bool fits = (entry & kUtf8LeadMark) ? (trail & 0xC0) == 0x80 : trail >= kLowestTrailByte;
    if (!fits) return 1;
  }
  return width;
}

class NodeScanner {
 public:
  // widths: bytes per character for every lead byte value (see CharWidths).
  NodeScanner(std::string_view text, const uint8_t* widths) : text_(text), widths_(widths) {}

  ScannedNode Scan(int32_t offset) const;
  // Where the name that starts at `offset` ends.
  int32_t NameEnd(int32_t offset) const;

 private:
  int32_t Size() const { return static_cast<int32_t>(text_.size()); }
  uint8_t Byte(int32_t i) const { return static_cast<uint8_t>(text_[i]); }
  int32_t Step(int32_t i) const { return i + static_cast<int32_t>(CharLength(text_, i, widths_)); }
  bool MatchesAt(int32_t i, std::string_view pattern) const;
  // Offset of the first occurrence of `pattern` at or after `from`, stepping whole characters.
  int32_t FindFrom(int32_t from, std::string_view pattern) const;
  ScannedNode ScanText(int32_t start) const;
  ScannedNode ScanStartTag(int32_t start) const;
  ScannedNode ScanDeclaration(int32_t start) const;
  ScannedNode ScanDocumentType(int32_t start) const;
  ScannedNode Delimited(int32_t start, int type, int32_t searchFrom, std::string_view close,
                        const char* unterminatedType) const;
  ScannedNode Unterminated(int32_t start, const char* type) const;
  ScannedNode Error(int32_t start, const char* event) const;

  std::string_view text_;
  const uint8_t* widths_;
};

// White space of XML names and text: blank, tab, LF, CR.
inline bool IsXmlSpace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
// Characters that end an element name besides white space.
inline bool EndsName(uint8_t c) {
  switch (c) {
    case '<':
    case '>':
    case '=':
    case '\\':
    case '/':
    case '?':
    case '!':
    case '"':
    case '\'':
    case ';':
      return true;
    default:
      return IsXmlSpace(c);
  }
}
// Bytes that may start an element name.
inline bool StartsName(uint8_t c) {
  return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}

}  // namespace torvexan
