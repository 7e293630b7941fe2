#include "xml/node_scanner.h"

#include <cstring>

namespace torvexan {

int32_t NodeScanner::NameEnd(int32_t offset) const {
  int32_t i = offset;
  while (i < Size()) {
    const uint8_t c = Byte(i);
    if (c < 0x80) {
      if (EndsName(c)) break;
      ++i;
    } else {
      i = Step(i);
    }
  }
  return i;
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
    const char* const data = text_.data();
    for (int32_t i = from; i < Size();) {
      const void* hit = std::memchr(data + i, first, Size() - i);
      if (!hit) return -1;
      i = static_cast<int32_t>(static_cast<const char*>(hit) - data);
      if (MatchesAt(i, pattern)) return i;
      ++i;
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
  node.type = kNodeError;
  node.start = start;
  node.end = Size();
  node.error = "unterminated_tag_syntax";
  node.errorOffset = start;
  node.unterminatedType = type;
  return node;
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

ScannedNode NodeScanner::Scan(int32_t offset) const {
  if (offset >= Size()) {
    ScannedNode node;
    node.start = node.end = Size();
    return node;
  }
  if (Byte(offset) != '<') return ScanText(offset);
  if (offset + 1 >= Size()) return Unterminated(offset, "tag");
  const uint8_t c = Byte(offset + 1);
  if (c == '/') {
    // A name holds no ">", so the search for it starts behind the name.
    const int32_t nameEnd = NameEnd(offset + 2);
    ScannedNode node = Delimited(offset, kNodeEndTag, nameEnd, ">", "end_tag");
    node.nameEnd = nameEnd;
    return node;
  }
  if (c == '?') {
    return Delimited(offset, kNodeProcessingInstruction, offset + 2, "?>",
                     "processing_instruction");
  }
  if (c == '!') return ScanDeclaration(offset);
  if (StartsName(c)) return ScanStartTag(offset);
  return Error(offset, "first_tag_syntax");
}

ScannedNode NodeScanner::ScanText(int32_t start) const {
  const void* lt = std::memchr(text_.data() + start, '<', Size() - start);
  ScannedNode node;
  node.start = start;
  node.end = lt ? static_cast<int32_t>(static_cast<const char*>(lt) - text_.data()) : Size();
  node.type = kNodeWhitespace;
  for (int32_t i = start; i < node.end; ++i) {
    if (!IsXmlSpace(Byte(i))) {
      node.type = kNodeText;
      break;
    }
  }
  return node;
}

ScannedNode NodeScanner::ScanStartTag(int32_t start) const {
  const int32_t nameEnd = NameEnd(start + 1);
  int32_t i = nameEnd;
  char quote = 0;
  bool afterEquals = false;
  bool slashMayClose = true;  // right after the name, white space or a closing quote
  bool slashBefore = false;   // the previous character was such a "/"
  while (i < Size()) {
    const char c = text_[i];
    if (quote) {
      // A quote is never a trail byte: the closing one is found by a plain byte search.
      const void* close = std::memchr(text_.data() + i, quote, Size() - i);
      if (!close) break;
      i = static_cast<int32_t>(static_cast<const char*>(close) - text_.data()) + 1;
      quote = 0;
      slashMayClose = true;
      continue;
    }
    if (c == '>') {
      ScannedNode node;
      node.type = kNodeElement;
      node.start = start;
      node.end = i + 1;
      node.emptyElement = slashBefore;
      node.nameEnd = nameEnd;
      return node;
    }
    slashBefore = false;
    if (c == '/') {
      slashBefore = slashMayClose;
      slashMayClose = false;
      afterEquals = false;
      ++i;
    } else if (IsXmlSpace(c)) {
      slashMayClose = true;
      ++i;
    } else if ((c == '"' || c == '\'') && afterEquals) {
      quote = c;
      afterEquals = false;
      ++i;
    } else {
      afterEquals = c == '=';
      slashMayClose = false;
      i = static_cast<uint8_t>(c) < 0x80 ? i + 1 : Step(i);
    }
  }
  return Unterminated(start, "start_tag");
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
