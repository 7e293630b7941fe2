// Compares what XmlDocument makes of a document with what libxml2 makes of it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvexan::testing {

// Why the two parsers see a document differently. Every kind but kUnexplained is a place where
// our parser reads the text differently on purpose.
enum class Difference {
  kNone,
  // A leaf's text holds a reference to an entity declared in a document type (or in an external
  // subset that is never read): libxml2 puts in the entity's text, we keep the reference as
  // written because only the HTML 4 names and "apos" are known.
  kEntityReference,
  // A leaf's text holds CR LF or a lone CR: XML turns them into LF on input, we keep every byte of
  // the file as it is so that a save writes the same lines back.
  kLineEnds,
  // A character reference longer than nine characters ("&#x0000000041;"): we leave it as
  // written, as every reference without its ";" within nine characters.
  kLongCharacterReference,
  // A comment in the internal subset of a document type: only element, attribute-list, entity
  // and notation declarations (and processing instructions) are taken there, anything else is a
  // syntax error that makes the document not well formed, though its elements are all indexed.
  kInternalSubsetComment,
  kUnexplained,
};

const char* DifferenceName(Difference difference);

struct Verdict {
  bool libxml2WellFormed = false;
  Difference difference = Difference::kNone;
  std::string detail;   // for a difference: where and what
  size_t elements = 0;  // elements whose names and places were compared
  size_t leaves = 0;    // elements without child elements whose text was compared
};

// Compares a document given as UTF-8 text (read with SetDocument).
Verdict CompareText(std::string_view text);
// Compares a file (read with LoadFile into a UTF-8 document, and by libxml2 from its bytes).
Verdict CompareFile(const std::string& path);

}  // namespace torvexan::testing
