#include "xml_differential.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>

#include "xml/char_refs.h"
#include "xml/code_page.h"
#include "xml/text_file.h"
#include "xml/xml_document.h"

namespace torvexan::testing {
namespace {

// libxml2 reads nothing but the document itself: no network, no external subset, no external
// entity, and says nothing on stderr.
constexpr int kLibxml2Options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
// A character reference longer than this (with "&" and ";") is left as written by our decoder.
constexpr size_t kLongestDecodedReference = 11;

xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
  return nullptr;
}
void IgnoreMessage(void*, const char*, ...) {}

struct Libxml2Setup {
  Libxml2Setup() {
    xmlInitParser();
    xmlSetExternalEntityLoader(RefuseExternalEntity);
    xmlSetGenericErrorFunc(nullptr, IgnoreMessage);
  }
};

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Libxml2Doc = std::unique_ptr<xmlDoc, DocFree>;

Libxml2Doc ParseWithLibxml2(std::string_view bytes, const char* url) {
  static const Libxml2Setup setup;
  return Libxml2Doc(
      xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), url, nullptr, kLibxml2Options));
}

std::string QualifiedName(const xmlNode* node) {
  std::string name;
  if (node->ns && node->ns->prefix) {
    name = reinterpret_cast<const char*>(node->ns->prefix);
    name += ':';
  }
  name += reinterpret_cast<const char*>(node->name);
  return name;
}

std::string Content(const xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

bool HasEntityReference(const xmlNode* node) {
  for (const xmlNode* c = node->children; c; c = c->next) {
    if (c->type == XML_ENTITY_REF_NODE) return true;
  }
  return false;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// libxml2's text of a leaf with its entity references as we read them: a name of the HTML 4
// set (or "apos") decoded, any other left as written.
std::string TextWithReferencesAsWeReadThem(const xmlNode* node) {
  std::string text;
  for (const xmlNode* c = node->children; c; c = c->next) {
    if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
      text += reinterpret_cast<const char*>(c->content);
    } else if (c->type == XML_ENTITY_REF_NODE) {
      const std::string name = reinterpret_cast<const char*>(c->name);
      const std::optional<uint32_t> cp = EntityCodePoint(name);
      if (cp) {
        AppendUtf8(*cp, text);
      } else {
        text += "&" + name + ";";
      }
    }
  }
  return text;
}

std::string NormalizeLineEnds(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      out += '\n';
    }
  }
  return out;
}

// Our text of a leaf read as if the file's line ends had been turned into LF on input, as XML
// does (a CR written as a character reference stays).
std::string OurTextWithLineEndsNormalized(const XmlDocument& ours, ElementNumber leaf) {
  const ElementRecord& r = ours.Index()[leaf];
  const int32_t from = r.start + static_cast<int32_t>(r.StartTagLength());
  const int32_t to = r.End() - static_cast<int32_t>(r.EndTagLength());
  XmlDocument normalized(ours.CodePage());
  normalized.SetDocument("<x>" + NormalizeLineEnds(ours.Text().substr(from, to - from)) + "</x>");
  return normalized.GetElementData(1);
}

// Our text with the character references decoded that are too long for our decoder; nothing
// when there is none.
std::optional<std::string> DecodeLongCharacterReferences(std::string_view text) {
  std::string out;
  bool any = false;
  size_t from = 0;
  for (size_t at = text.find("&#"); at != std::string_view::npos; at = text.find("&#", from)) {
    const size_t semicolon = text.find(';', at);
    if (semicolon == std::string_view::npos) break;
    if (semicolon + 1 - at <= kLongestDecodedReference) {
      out.append(text.substr(from, semicolon + 1 - from));
      from = semicolon + 1;
      continue;
    }
    const bool hex = text[at + 2] == 'x';
    const std::string digits(text.substr(at + 2 + hex, semicolon - at - 2 - hex));
    out.append(text.substr(from, at - from));
    AppendUtf8(static_cast<uint32_t>(std::stoul(digits, nullptr, hex ? 16 : 10)), out);
    any = true;
    from = semicolon + 1;
  }
  if (!any) return std::nullopt;
  out.append(text.substr(from));
  return out;
}

// Walks both trees side by side; our side moves with FindElement, IntoElement and OutOfElement.
class TreeComparison {
 public:
  TreeComparison(XmlDocument& ours, Verdict& verdict) : ours_(ours), verdict_(verdict) {}

  void Run(const xmlNode* root) {
    ours_.ResetMainPosition();
    if (!ours_.FindElement()) return Note(Difference::kUnexplained, "/", "we find no root");
    Element(root, "/");
  }

 private:
  void Note(Difference kind, const std::string& path, const std::string& what) {
    if (verdict_.difference == Difference::kUnexplained) return;
    if (verdict_.difference != Difference::kNone && kind != Difference::kUnexplained) return;
    verdict_.difference = kind;
    verdict_.detail = path + ": " + what;
  }

  void Element(const xmlNode* node, const std::string& parentPath) {
    const std::string name = QualifiedName(node);
    const std::string path = parentPath + name;
    const std::string_view ourName = ours_.ElementName(ours_.MainElement());
    ++verdict_.elements;
    if (ourName != name) {
      return Note(Difference::kUnexplained, path, "we name it \"" + std::string(ourName) + "\"");
    }
    const xmlNode* child = xmlFirstElementChild(const_cast<xmlNode*>(node));
    ours_.IntoElement();
    bool found = ours_.FindElement();
    if (!child && !found) {
      ours_.OutOfElement();
      return Leaf(node, path);
    }
    int index = 0;
    for (; child && found; child = xmlNextElementSibling(const_cast<xmlNode*>(child))) {
      Element(child, path + "[" + std::to_string(++index) + "]/");
      found = ours_.FindElement();
    }
    if (child || found) {
      Note(Difference::kUnexplained, path,
           std::string(found ? "we see more" : "we see fewer") + " children than libxml2 after " +
               std::to_string(index));
    }
    ours_.OutOfElement();
  }

  void Leaf(const xmlNode* node, const std::string& path) {
    const std::string ourText = ours_.GetElementData(ours_.MainElement());
    const std::string theirText = Content(node);
    ++verdict_.leaves;
    if (ourText == theirText) return;
    // Each allowed kind must explain the whole difference, line ends aside.
    const std::string ourLines = OurTextWithLineEndsNormalized(ours_, ours_.MainElement());
    const std::optional<std::string> longDecoded = DecodeLongCharacterReferences(ourLines);
    Difference kind = Difference::kUnexplained;
    if (HasEntityReference(node)) {
      if (ourLines == TextWithReferencesAsWeReadThem(node)) kind = Difference::kEntityReference;
    } else if (longDecoded) {
      if (*longDecoded == theirText) kind = Difference::kLongCharacterReference;
    } else if (ourLines == theirText) {
      kind = Difference::kLineEnds;
    }
    Note(kind, path,
         "text \"" + ourText.substr(0, 80) + "\" vs \"" + theirText.substr(0, 80) + "\"");
  }

  XmlDocument& ours_;
  Verdict& verdict_;
};

// The events of a parse that show a fault in the document itself.
constexpr std::string_view kParseErrors[] = {
    "first_tag_syntax",       "comment_tag_syntax",      "cdata_section_syntax",
    "exclamation_tag_syntax", "unterminated_tag_syntax", "lone_end_tag",
    "unended_start_tag",      "no_root_element",         "root_has_sibling",
};

// A document we reject although libxml2 reads it: allowed only when the sole errors lie in the
// document type.
Difference ClassifyRejection(const XmlDocument& ours) {
  const std::string& log = ours.ResultText();
  if (log.find("<doctype_tag_syntax") == std::string::npos) return Difference::kUnexplained;
  for (std::string_view event : kParseErrors) {
    if (log.find("<" + std::string(event)) != std::string::npos) return Difference::kUnexplained;
  }
  return Difference::kInternalSubsetComment;
}

Verdict Compare(XmlDocument& ours, const xmlDoc* theirs) {
  Verdict verdict;
  verdict.libxml2WellFormed = theirs != nullptr;
  if (!theirs) return verdict;
  if (!ours.IsWellFormed()) {
    verdict.difference = ClassifyRejection(ours);
    verdict.detail = "not well formed for us: " + ours.ResultText().substr(0, 300);
    // An error in the document type leaves the elements to compare all the same.
    if (verdict.difference == Difference::kUnexplained) return verdict;
  }
  TreeComparison(ours, verdict).Run(xmlDocGetRootElement(const_cast<xmlDoc*>(theirs)));
  return verdict;
}

}  // namespace

const char* DifferenceName(Difference difference) {
  switch (difference) {
    case Difference::kNone:
      return "none";
    case Difference::kEntityReference:
      return "entity reference";
    case Difference::kLineEnds:
      return "line ends";
    case Difference::kLongCharacterReference:
      return "long character reference";
    case Difference::kInternalSubsetComment:
      return "comment in internal subset";
    case Difference::kUnexplained:
      return "unexplained";
  }
  return "?";
}

Verdict CompareText(std::string_view text) {
  XmlDocument ours(kCodePageUtf8);
  ours.SetDocument(text);
  const Libxml2Doc theirs = ParseWithLibxml2(text, "text.xml");
  return Compare(ours, theirs.get());
}

Verdict CompareFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Libxml2Doc theirs = ParseWithLibxml2(bytes, path.c_str());
  XmlDocument ours(kCodePageUtf8);
  LoadFile(ours, path);
  return Compare(ours, theirs.get());
}

}  // namespace torvexan::testing
