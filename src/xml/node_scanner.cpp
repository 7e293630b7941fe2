#include "xml/node_scanner.h"

#include <algorithm>
#include <cstring>

namespace torvexan {

int32_t NodeScanner::NameEndStepping(int32_t i) const {
  const int32_t size = Size();
  while (i < size) {
    const uint8_t c = Byte(i);
    if (c < 0x80) {
      if (EndsName(c)) break;
      ++i;
    } else {
      // In a double-byte code page a trail byte may look like "\\", which ends a name.
      i = Step(i);
    }
  }
  return i;
}

int32_t NodeScanner::NextMarkup(int32_t offset) const {
  return FindByte(offset, '<');
}

bool NodeScanner::MatchesAt(int32_t i, std::string_view pattern) const {
  // Patterns are a few bytes long: a loop beats a call to memcmp.
  if (static_cast<size_t>(Size() - i) < pattern.size()) return false;
  for (size_t k = 0; k < pattern.size(); ++k) {
    if (text_[i + k] != pattern[k]) return false;
  }
  return true;
}

int32_t NodeScanner::FindFrom(int32_t from, std::string_view pattern) const {
  const auto first = static_cast<uint8_t>(pattern[0]);
  if (first < kLowestTrailByte) {
    // Such a byte is never a trail byte, so wherever it stands a character starts: a plain byte
    // search finds what stepping would.
    for (int32_t i = FindByte(from, pattern[0]); i < Size(); i = FindByte(i + 1, pattern[0])) {
      if (MatchesAt(i, pattern)) return i;
    }
    return -1;
  }
  for (int32_t i = from; i < Size(); i = Step(i)) {
    if (MatchesAt(i, pattern)) return i;
  }
  return -1;
}

ScannedNode NodeScanner::Unterminated(int32_t start, const char* type) const {
  ScannedNode node;
  node.start = start;
  MarkUnterminated(node, type);
  return node;
}

// The text ended inside the tag that starts at node.start.
void NodeScanner::MarkUnterminated(ScannedNode& node, const char* type) const {
  node.type = kNodeError;
  node.end = Size();
  node.error = "unterminated_tag_syntax";
  node.errorOffset = node.start;
  node.unterminatedType = type;
}

// A malformed tag opening: only its "<" is taken, the rest is read again as text.
ScannedNode NodeScanner::Error(int32_t start, const char* event) const {
  ScannedNode node;
  node.type = kNodeError;
  node.start = start;
  node.end = start + 1;
  node.error = event;
  node.errorOffset = start;
  return node;
}

ScannedNode NodeScanner::Delimited(int32_t start, int type, int32_t searchFrom,
                                   std::string_view close, const char* unterminatedType) const {
  const int32_t at = FindFrom(searchFrom, close);
  if (at < 0) return Unterminated(start, unterminatedType);
  ScannedNode node;
  node.type = type;
  node.start = start;
  node.end = at + static_cast<int32_t>(close.size());
  return node;
}

ScannedNode NodeScanner::ScanOther(int32_t offset) const {
  if (offset >= Size()) {
    ScannedNode node;
    node.start = node.end = Size();
    return node;
  }
  if (Byte(offset) != '<') return ScanText(offset);
  if (offset + 1 >= Size()) return Unterminated(offset, "tag");
  const uint8_t c = Byte(offset + 1);
  if (c == '/') return ScanEndTag(offset);
  if (c == '?') {
    return Delimited(offset, kNodeProcessingInstruction, offset + 2, "?>",
                     "processing_instruction");
  }
  if (c == '!') return ScanDeclaration(offset);
  if (StartsName(c)) return ScanStartTag(offset);
  return Error(offset, "first_tag_syntax");
}

// One node object is filled and returned on every path, so that it is built in the caller's
// place rather than copied there.
ScannedNode NodeScanner::ScanEndTag(int32_t start) const {
  ScannedNode node;
  // A name holds no ">", so the search for it starts behind the name; mostly it is right there.
  node.nameEnd = NameEnd(start + 2);
  const int32_t close = (node.nameEnd < Size() && Byte(node.nameEnd) == '>')
                            ? node.nameEnd
                            : FindFrom(node.nameEnd, ">");
  node.start = start;
  if (close < 0) {
    MarkUnterminated(node, "end_tag");
  } else {
    node.type = kNodeEndTag;
    node.end = close + 1;
  }
  return node;
}

ScannedNode NodeScanner::ScanText(int32_t start) const {
  ScannedNode node;
  node.start = start;
  node.end = NextMarkup(start);
  node.type = kNodeWhitespace;
  for (int32_t i = start; i < node.end; ++i) {
    if (!IsXmlSpace(Byte(i))) {
      node.type = kNodeText;
      break;
    }
  }
  return node;
}

// Every byte that matters here (quotes, "=", "/", ">", white space) lies below 0x40, where no
// code page has trail bytes, so the tag is read byte by byte without stepping characters.
ScannedNode NodeScanner::ScanStartTag(int32_t start) const {
  ScannedNode node;
  node.start = start;
  node.nameEnd = NameEnd(start + 1);
  const int32_t size = Size();
  const char* const data = text_.data();
  int32_t i = node.nameEnd;
  bool afterEquals = false;
  bool slashMayClose = true;  // right after the name, white space or a closing quote
  bool slashBefore = false;   // the previous character was such a "/"
  for (;;) {
    if (i >= size) {
      MarkUnterminated(node, "start_tag");
      return node;
    }
    const auto c = static_cast<uint8_t>(data[i]);
    const uint8_t cls = kScanClasses.c[c];
    if (cls & kScanTagClose) break;
    slashBefore = false;
    if (cls & kScanSlash) {
      slashBefore = slashMayClose;
      slashMayClose = false;
      afterEquals = false;
      ++i;
    } else if (cls & kScanSpace) {
      slashMayClose = true;
      ++i;
    } else if ((cls & kScanQuote) && afterEquals) {
      // A quote is never a trail byte: the closing one is found by a plain byte search.
      i = std::min(FindByte(i + 1, static_cast<char>(c)) + 1, size);
      afterEquals = false;
      slashMayClose = true;
    } else if (cls & kScanEquals) {
      afterEquals = true;
      slashMayClose = false;
      ++i;
    } else {
      afterEquals = false;
      slashMayClose = false;
      // A run of name or value characters changes nothing further.
      i = SkipClasses(i + 1, static_cast<uint8_t>(~kScanHigh));
    }
  }
  node.type = kNodeElement;
  node.end = i + 1;
  node.emptyElement = slashBefore;
  return node;
}

ScannedNode NodeScanner::ScanDeclaration(int32_t start) const {
  if (start + 2 >= Size()) return Unterminated(start, "tag");
  const uint8_t c = Byte(start + 2);
  if (c == '-') {
    if (start + 3 >= Size()) return Unterminated(start, "comment");
    if (Byte(start + 3) != '-') return Error(start, "comment_tag_syntax");
    return Delimited(start, kNodeComment, start + 4, "-->", "comment");
  }
  if (c == '[') {
    if (start + 3 >= Size()) return Unterminated(start, "cdata_section");
    if (Byte(start + 3) != 'C') return Error(start, "cdata_section_syntax");
    return Delimited(start, kNodeCdata, start + 4, "]]>", "cdata_section");
  }
  if (c == 'D') return ScanDocumentType(start);
  return Error(start, "exclamation_tag_syntax");
}

// A document type ends at the ">" after its internal subset. Quoted literals are stepped over
// in the external identifier and inside declarations; comments and processing instructions of
// the subset are stepped over whole, so that an apostrophe in a comment opens no literal.
ScannedNode NodeScanner::ScanDocumentType(int32_t start) const {
  bool inSubset = false;
  bool inMarkup = false;  // inside a declaration of the internal subset
  char quote = 0;
  const char* error = nullptr;
  int32_t errorAt = 0;
  for (int32_t i = start + 3; i < Size(); i = Step(i)) {
    const char c = text_[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if ((c == '"' || c == '\'') && (inMarkup || !inSubset)) {
      quote = c;
    } else if (inMarkup) {
      if (c == '>') inMarkup = false;
    } else if (inSubset) {
      if (c == ']') {
        inSubset = false;
      } else if (c == '<') {
        const std::string_view rest = text_.substr(i);
        const bool comment = rest.starts_with("<!--");
        if (comment || rest.starts_with("<?")) {
          // Only declarations belong in the subset; a comment is an error all the same.
          if (comment && !error) {
            error = "doctype_tag_syntax";
            errorAt = i;
          }
          const int32_t close = FindFrom(i + 2, comment ? "-->" : "?>");
          if (close < 0) break;
          i = close + (comment ? 2 : 1);  // the loop steps past the closing ">"
          continue;
        }
        const uint8_t next = rest.size() > 2 ? static_cast<uint8_t>(rest[2]) : 0;
        if (rest.size() < 2 || rest[1] != '!' || !(next == 'E' || next == 'A' || next == 'N')) {
          if (!error) {
            error = "doctype_tag_syntax";
            errorAt = i;
          }
        }
        inMarkup = true;
      }
    } else if (c == '[') {
      inSubset = true;
    } else if (c == '>') {
      ScannedNode node;
      node.start = start;
      node.end = i + 1;
      node.type = error ? kNodeError : kNodeDocumentType;
      node.error = error;
      node.errorOffset = error ? errorAt : start;
      return node;
    }
  }
  return Unterminated(start, "document_type");
}

}  // namespace torvexan
