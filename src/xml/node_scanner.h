// Reads one node of XML text at a time: tags, text, comments and the like.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// Bytes looked at one by one before a search for a byte hands over to memchr.
inline constexpr int32_t kDirectSearchBytes = 32;

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
  // Scan for everything but start and end tags.
  ScannedNode ScanOther(int32_t offset) const;
  // The next "<" at or after `offset`, or the end of the text: where the node after a text or
  // white-space node starts, for callers that do not need the text node itself.
  int32_t NextMarkup(int32_t offset) const;

 private:
  int32_t Size() const { return static_cast<int32_t>(text_.size()); }
  uint8_t Byte(int32_t i) const { return static_cast<uint8_t>(text_[i]); }
  int32_t Step(int32_t i) const { return i + static_cast<int32_t>(CharLength(text_, i, widths_)); }
  // The first `byte` at or after `from`, or the end of the text.
  int32_t FindByte(int32_t from, char byte) const;
  // The first byte at or after `i` whose class has one of `stopClasses`, or the end of the text.
  int32_t SkipClasses(int32_t i, uint8_t stopClasses) const;
  // NameEnd past a byte from 0x80 up, stepping whole characters.
  int32_t NameEndStepping(int32_t i) const;
  bool MatchesAt(int32_t i, std::string_view pattern) const;
  // Offset of the first occurrence of `pattern` at or after `from`, stepping whole characters.
  int32_t FindFrom(int32_t from, std::string_view pattern) const;
  ScannedNode ScanText(int32_t start) const;
  ScannedNode ScanStartTag(int32_t start) const;
  ScannedNode ScanEndTag(int32_t start) const;
  ScannedNode ScanDeclaration(int32_t start) const;
  ScannedNode ScanDocumentType(int32_t start) const;
  ScannedNode Delimited(int32_t start, int type, int32_t searchFrom, std::string_view close,
                        const char* unterminatedType) const;
  ScannedNode Unterminated(int32_t start, const char* type) const;
  void MarkUnterminated(ScannedNode& node, const char* type) const;
  ScannedNode Error(int32_t start, const char* event) const;

  std::string_view text_;
  const uint8_t* widths_;
};

// White space of XML names and text: blank, tab, LF, CR.
inline bool IsXmlSpace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
// Byte classes of the scanner's loops; the table is built at compile time.
enum ScanClass : uint8_t {
  kScanOrdinary = 0,
  kScanSpace = 1,     // blank, tab, LF, CR
  kScanNameEnd = 2,   // ends a name besides white space: < > = \ / ? ! " ' ;
  kScanQuote = 4,     // " and '
  kScanTagClose = 8,  // >
  kScanSlash = 16,    // /
  kScanEquals = 32,   // =
  kScanHigh = 64,     // 0x80 and up: maybe part of a multi-byte character
};
inline constexpr auto kScanClasses = [] {
  struct Table {
    uint8_t c[256] = {};
  } table;
  for (uint8_t b : {' ', '\t', '\n', '\r'}) table.c[b] = kScanSpace;
  for (uint8_t b : {'<', '>', '=', '\\', '/', '?', '!', '"', '\'', ';'}) table.c[b] = kScanNameEnd;
  table.c[static_cast<uint8_t>('"')] |= kScanQuote;
  table.c[static_cast<uint8_t>('\'')] |= kScanQuote;
  table.c[static_cast<uint8_t>('>')] |= kScanTagClose;
  table.c[static_cast<uint8_t>('/')] |= kScanSlash;
  table.c[static_cast<uint8_t>('=')] |= kScanEquals;
  for (int b = 0x80; b < 0x100; ++b) table.c[b] = kScanHigh;
  return table;
}();

// Characters that end an element name besides white space.
inline bool EndsName(uint8_t c) {
  return (kScanClasses.c[c] & (kScanSpace | kScanNameEnd)) != 0;
}

// Bytes that may start an element name.
inline bool StartsName(uint8_t c) {
  return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}

// Start and end tags, nearly every node of a document, are told apart here, inline; the rest
// goes to ScanOther.
inline ScannedNode NodeScanner::Scan(int32_t offset) const {
  if (offset + 1 < Size() && Byte(offset) == '<') {
    const uint8_t c = Byte(offset + 1);
    if (c == '/') return ScanEndTag(offset);
    if (StartsName(c)) return ScanStartTag(offset);
  }
  return ScanOther(offset);
}

inline int32_t NodeScanner::FindByte(int32_t from, char byte) const {
  // Values and text between tags are mostly a few bytes long: eight bytes at a time are looked
  // at directly (a byte equal to `byte` becomes a zero byte of x, whose high bit the subtraction
  // borrows into), which costs less than the set-up of a memchr call.
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  const char* const data = text_.data();
  const int32_t size = Size();
  const uint64_t pattern = kOnes * static_cast<uint8_t>(byte);
  const int32_t nearEnd = std::min(size, from + kDirectSearchBytes);
  int32_t i = from;
  for (; i + 8 <= nearEnd; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, sizeof(word));
    const uint64_t x = word ^ pattern;
    const uint64_t zeros = (x - kOnes) & ~x & kHighs;
    if (zeros != 0) return i + std::countr_zero(zeros) / 8;  // the first zero byte (little-endian)
  }
  for (; i < nearEnd; ++i) {
    if (data[i] == byte) return i;
  }
  if (nearEnd == size) return size;
  const void* hit = std::memchr(data + nearEnd, byte, size - nearEnd);
  return hit ? static_cast<int32_t>(static_cast<const char*>(hit) - data) : size;
}

inline int32_t NodeScanner::SkipClasses(int32_t i, uint8_t stopClasses) const {
  const char* const data = text_.data();
  const int32_t size = Size();
  auto stops = [&](int32_t k) {
    return (kScanClasses.c[static_cast<uint8_t>(data[k])] & stopClasses) != 0;
  };
  // Four bytes per bound check.
  for (; i + 4 <= size; i += 4) {
    if (stops(i)) return i;
    if (stops(i + 1)) return i + 1;
    if (stops(i + 2)) return i + 2;
    if (stops(i + 3)) return i + 3;
  }
  while (i < size && !stops(i)) ++i;
  return i;
}

inline int32_t NodeScanner::NameEnd(int32_t offset) const {
  const int32_t i = SkipClasses(offset, 0xFF);
  return (i < Size() && Byte(i) >= 0x80) ? NameEndStepping(i) : i;
}

}  // namespace torvexan
