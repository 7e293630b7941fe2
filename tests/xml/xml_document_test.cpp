// Parsing, navigation and reading of XmlDocument.
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <string>

#include "index_walk.h"
#include "xml/char_refs.h"
#include "xml/code_page.h"

namespace torvexan {
namespace {

using testing::Utf8Document;

std::string Data(XmlDocument& document, std::string_view name) {
  document.ResetMainPosition();
  if (!document.FindElement(name)) return "<not found>";
  return document.GetElementData(document.MainElement());
}

TEST(XmlParse, IndexRecordsWhereEveryTagLies) {
  XmlDocument doc = Utf8Document("<?xml version=\"1.0\"?>\r\n<r a=\"1\">\r\n <x>1</x><y/>\r\n</r>");
  ASSERT_TRUE(doc.IsWellFormed());
  EXPECT_EQ(testing::DescribeIndex(doc),
            "0 23 30 " + std::to_string(9 | (4u << 22)) + " r " + std::to_string(kFirstChild) +
                "\n"
                "1 35 8 " +
                std::to_string(3 | (4u << 22)) + " x " + std::to_string(kFirstChild) +
                "\n"
                "1 43 4 4 y 0\n");
  EXPECT_EQ(doc.Text().substr(35, 8), "<x>1</x>");
}

TEST(XmlParse, UnendedStartTagMovesItsChildrenUp) {
  XmlDocument doc = Utf8Document("<a><b><c/><d>t</d></a>");
  EXPECT_FALSE(doc.IsWellFormed());
  EXPECT_EQ(doc.ResultText(), "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"18\"/>");
  // b keeps only its start tag; c and d follow it as children of a.
  EXPECT_EQ(testing::DescribeIndex(doc),
            "0 0 22 " + std::to_string(3 | (4u << 22)) + " a " + std::to_string(kFirstChild) +
                "\n1 3 3 3 b " + std::to_string(kFirstChild | kNoEndTag) +
                "\n1 6 4 4 c 0\n1 10 8 " + std::to_string(3 | (4u << 22)) + " d 0\n");
}

TEST(XmlParse, UnendedAtEndOfDocumentAndDeepNesting) {
  XmlDocument doc = Utf8Document("<a><b><c>");
  EXPECT_FALSE(doc.IsWellFormed());
  EXPECT_NE(doc.ResultText().find("<unended_start_tag tagname=\"c\" offset=\"6\" offset2=\"9\"/>"),
            std::string::npos);
  EXPECT_NE(doc.ResultText().find("<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"9\"/>"),
            std::string::npos);
  EXPECT_NE(doc.ResultText().find("root_has_sibling"), std::string::npos);
  // All three end up at top level, one after the other.
  EXPECT_EQ(testing::DescribeIndex(doc).substr(0, 2), "0 ");
  EXPECT_EQ(doc.Index()[doc.Index()[1].nextSibling].start, 3);

  std::string deep;
  for (int i = 0; i < 20000; ++i) deep += "<e>";
  XmlDocument deepDoc = Utf8Document(deep);
  EXPECT_EQ(deepDoc.Index().NextFree(), 20001u);
  EXPECT_EQ(deepDoc.Index()[20000].Level(), 0u);
  EXPECT_EQ(deepDoc.Index()[20000].parent, 0u);
}

TEST(XmlParse, LoneEndTagAndMissingRoot) {
  XmlDocument doc = Utf8Document("</x>");
  EXPECT_FALSE(doc.IsWellFormed());
  EXPECT_EQ(doc.ResultText(), "<lone_end_tag tagname=\"x\" offset=\"0\"/><no_root_element/>");
  doc.SetDocument("<a/><b/>");
  EXPECT_FALSE(doc.IsWellFormed());
  EXPECT_EQ(doc.ResultText(), "<root_has_sibling/>");
  doc.SetDocument("<a></b></a>");
  EXPECT_FALSE(doc.IsWellFormed());
  EXPECT_TRUE(doc.Index()[1].flagsAndLevel & kContainsError);
}

TEST(XmlParse, SyntaxErrorsAreLoggedWithOffsetsAndParsingGoesOn) {
  struct Case {
    const char* text;
    const char* log;
  };
  const Case cases[] = {
      {"<r>a <3</r>", "<first_tag_syntax offset=\"5\"/>"},
      {"<r><!-x--></r>", "<comment_tag_syntax offset=\"3\"/>"},
      {"<r><![x]]></r>", "<cdata_section_syntax offset=\"3\"/>"},
      {"<r><!x></r>", "<exclamation_tag_syntax offset=\"3\"/>"},
      {"<!DOCTYPE r [<!ENTITY a \"]>\"><!-- -->]><r/>", "<doctype_tag_syntax offset=\"29\"/>"},
      {"<!DOCTYPE r [<x>]><r/>", "<doctype_tag_syntax offset=\"13\"/>"},
      {"<r><!-- x", "<unterminated_tag_syntax type=\"comment\" offset=\"3\"/>"},
      {"<r><![CDATA[x", "<unterminated_tag_syntax type=\"cdata_section\" offset=\"3\"/>"},
      {"<r><?pi x", "<unterminated_tag_syntax type=\"processing_instruction\" offset=\"3\"/>"},
      {"<r></r", "<unterminated_tag_syntax type=\"end_tag\" offset=\"3\"/>"},
      {"<r a='>", "<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/>"},
      {"<!DOCTYPE r [", "<unterminated_tag_syntax type=\"document_type\" offset=\"0\"/>"},
      {"<r/><", "<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
  };
  for (const Case& c : cases) {
    XmlDocument doc = Utf8Document(c.text);
    EXPECT_FALSE(doc.IsWellFormed()) << c.text;
    EXPECT_EQ(doc.ResultText().substr(0, std::string(c.log).size()), c.log) << c.text;
  }
  // The index still covers what follows an error.
  XmlDocument doc = Utf8Document("<r>a <3<b>x</b></r>");
  EXPECT_TRUE(doc.FindElement() && doc.IntoElement() && doc.FindElement("b"));
  EXPECT_EQ(doc.GetElementData(doc.MainElement()), "x");
}

TEST(XmlParse, InternalSubsetCommentsAndProcessingInstructionsAreSteppedOverWhole) {
  // A processing instruction belongs in the subset; quotes and "]>" inside it mean nothing.
  XmlDocument pi = Utf8Document("<!DOCTYPE r [<?pi don't ]> ?><!ELEMENT r ANY>]><r>x</r>");
  EXPECT_TRUE(pi.IsWellFormed()) << pi.ResultText();
  // A comment is an error there, but its apostrophe must not swallow the rest of the document.
  XmlDocument comment = Utf8Document("<!DOCTYPE r [<!-- it's ]> -->]><r><a>x</a></r>");
  EXPECT_FALSE(comment.IsWellFormed());
  EXPECT_EQ(comment.ResultText(), "<doctype_tag_syntax offset=\"13\"/>");
  ASSERT_TRUE(comment.FindElement("r") && comment.IntoElement() && comment.FindElement("a"));
  EXPECT_EQ(comment.GetElementData(comment.MainElement()), "x");
  XmlDocument open = Utf8Document("<!DOCTYPE r [<!-- it's ]><r/>");
  EXPECT_EQ(open.ResultText().substr(0, 24), "<unterminated_tag_syntax");
}

TEST(XmlParse, QuotedGreaterThanAndEmptyElementForms) {
  XmlDocument doc = Utf8Document("<r><a x=\"1>2\"/><b x='y'/><d x=1/>z</d></r>");
  ASSERT_TRUE(doc.IsWellFormed()) << doc.ResultText();
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement());
  ASSERT_TRUE(doc.FindElement("a"));
  EXPECT_EQ(doc.Index()[doc.MainElement()].EndTagLength(), 0u);
  ASSERT_TRUE(doc.FindElement("b"));
  EXPECT_EQ(doc.Index()[doc.MainElement()].EndTagLength(), 0u);
  // "/" after an unquoted value, or followed by a blank, does not close the tag.
  ASSERT_TRUE(doc.FindElement("d"));
  EXPECT_EQ(doc.GetElementData(doc.MainElement()), "z");
  XmlDocument open = Utf8Document("<r><c/ ></r>");
  EXPECT_FALSE(open.IsWellFormed());
  EXPECT_TRUE(open.Index()[2].flagsAndLevel & kNoEndTag);
}

TEST(XmlParse, ResultLogStopsGrowingPastItsCap) {
  std::string text = "<r>";
  for (int i = 0; i < 200; ++i) text += "</x>";
  text += "</r>";
  XmlDocument doc = Utf8Document(text);
  EXPECT_GT(doc.ResultText().size(), kResultLogCapChars);
  EXPECT_LT(doc.ResultText().size(), kResultLogCapChars + 60);
}

TEST(XmlParse, IndexGrowsPastOneSegment) {
  const int count = 70000;
  std::string text = "<r>";
  for (int i = 0; i < count; ++i) text += "<e/>";  // more elements than the text size reserves
  text += "</r>";
  XmlDocument doc = Utf8Document(text);
  ASSERT_TRUE(doc.IsWellFormed());
  EXPECT_EQ(doc.Index().NextFree(), static_cast<ElementNumber>(count + 2));
  const ElementNumber last = count + 1;
  EXPECT_EQ(last >> kSegmentShift, 1u);
  EXPECT_EQ(doc.Index()[last].start, 3 + 4 * (count - 1));
  EXPECT_EQ(doc.Index()[doc.Index()[1].firstChild].previousSibling, last);
}

TEST(XmlNavigation, FindElementWalksSiblingsForward) {
  XmlDocument doc = Utf8Document("<r><ab/><a x=\"1\">1</a><b/><a/></r>");
  ASSERT_TRUE(doc.FindElement());
  EXPECT_TRUE(doc.IntoElement());
  ASSERT_TRUE(doc.FindElement("a"));  // not "ab"
  EXPECT_EQ(doc.ElementName(doc.MainElement()), "a");
  EXPECT_EQ(doc.GetElementData(doc.MainElement()), "1");
  const ElementNumber first = doc.MainElement();
  ASSERT_TRUE(doc.FindElement("a"));
  EXPECT_NE(doc.MainElement(), first);
  const ElementNumber second = doc.MainElement();
  EXPECT_FALSE(doc.FindElement("a"));
  EXPECT_EQ(doc.MainElement(), second) << "a failed search keeps the position";
  doc.ResetMainPosition();
  ASSERT_TRUE(doc.FindElement("a"));
  EXPECT_EQ(doc.MainElement(), first);
  // The main element has no children: into it, nothing is found and nothing moves.
  ASSERT_TRUE(doc.FindElement("b"));
  ASSERT_TRUE(doc.IntoElement());
  const ElementNumber parent = doc.ParentElement();
  EXPECT_FALSE(doc.FindElement());
  EXPECT_EQ(doc.ParentElement(), parent);
  EXPECT_EQ(doc.MainElement(), 0u);
  EXPECT_EQ(doc.NodeType(), 0);
}

TEST(XmlNavigation, OutOfElementReturnsToTheParentsSiblings) {
  XmlDocument doc = Utf8Document("<r><a><x/><y/></a><b/></r>");
  EXPECT_FALSE(doc.OutOfElement()) << "nothing above the top level";
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.IntoElement());
  ASSERT_TRUE(doc.FindElement("a"));
  const ElementNumber a = doc.MainElement();
  ASSERT_TRUE(doc.IntoElement());
  ASSERT_TRUE(doc.FindElement("y"));
  ASSERT_TRUE(doc.OutOfElement());
  EXPECT_EQ(doc.MainElement(), a);
  EXPECT_EQ(doc.NodeType(), 1);
  ASSERT_TRUE(doc.FindElement());
  EXPECT_EQ(doc.ElementName(doc.MainElement()), "b");
  ASSERT_TRUE(doc.OutOfElement());
  EXPECT_EQ(doc.ElementName(doc.MainElement()), "r");
  EXPECT_EQ(doc.ParentElement(), 0u);
  EXPECT_FALSE(doc.FindElement()) << "the root has no sibling";
}

TEST(XmlNavigation, NameFormsOfFindElement) {
  XmlDocument doc = Utf8Document("<r><a/><b/></r>");
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement());
  for (const char* name : {"b", "b[2]", "b[@x]", "b[@x=1]/c", "b/c/d"}) {
    doc.ResetMainPosition();
    EXPECT_TRUE(doc.FindElement(name)) << name;
  }
  for (const char* name : {"/b", "//b", "b[", "b[0]", "b[10]", "b[@]", "b/", "b c", "b[x]"}) {
    doc.ResetMainPosition();
    EXPECT_FALSE(doc.FindElement(name)) << name;
  }
}

TEST(XmlNavigation, IgnoreCaseFoldsAsciiOnly) {
  XmlDocument doc(kCodePageUtf8);
  doc.SetDocFlags(kDocIgnoreCase);
  doc.SetDocument("<R><Value/><\xC3\xA9X/></r>");
  EXPECT_TRUE(doc.IsWellFormed()) << "end tags match without regard to case";
  ASSERT_TRUE(doc.FindElement("r") && doc.IntoElement());
  EXPECT_TRUE(doc.FindElement("VALUE"));
  doc.ResetMainPosition();
  EXPECT_TRUE(doc.FindElement("\xC3\xA9X"));
  doc.ResetMainPosition();
  EXPECT_FALSE(doc.FindElement("\xC3\xA9x")) << "after a multi-byte character bytes must be equal";
}

TEST(XmlNavigation, MultiByteNamesAreNeverSplit) {
  // In Shift-JIS the trail byte 0x5C of this character looks like a backslash, which would
  // otherwise end the name.
  XmlDocument doc(932);
  doc.SetDocument("<\x83\x5C\x83\x5D>v</\x83\x5C\x83\x5D>");
  ASSERT_TRUE(doc.IsWellFormed()) << doc.ResultText();
  ASSERT_TRUE(doc.FindElement("\x83\x5C\x83\x5D"));
  EXPECT_EQ(doc.ElementName(doc.MainElement()), "\x83\x5C\x83\x5D");
  EXPECT_EQ(doc.GetElementData(doc.MainElement()), "v");
}

TEST(XmlNavigation, MultiByteCharactersNeverEndASection) {
  // The trail byte 0x5D of this Shift-JIS character looks like "]": the section does not end
  // inside it but at the next "]]>" that starts a character.
  XmlDocument doc(932);
  doc.SetDocument("<r a='\x83\x5D>'><![CDATA[\x83]]>x]]><!--\x83\x5D-->y</r>");
  ASSERT_TRUE(doc.IsWellFormed()) << doc.ResultText();
  ASSERT_TRUE(doc.FindElement("r"));
  EXPECT_EQ(doc.GetElementData(doc.MainElement()), "\x83]]>xy");
}

TEST(XmlNavigation, BrokenUtf8LeadByteNeverSwallowsMarkup) {
  // In UTF-8 only bytes 0x80..0xBF follow a lead byte: a lead byte before "]]>", "-->", a name
  // end or "?>" stands alone.
  XmlDocument doc(kCodePageUtf8);
  ASSERT_TRUE(doc.SetDocument("<r><![CDATA[x\xE3]]></r>")) << doc.ResultText();
  ASSERT_TRUE(doc.FindElement("r"));
  EXPECT_EQ(doc.GetElementData(doc.MainElement()), "x\xE3");
  for (const char* text : {"<r><!--\xF0-->\xC3</r>", "<r><?p \xE3?></r>", "<r\xE3\\></r\xE3\\>",
                           "<r><a\xC3]/>\xE3\xA0</r>"}) {
    EXPECT_TRUE(doc.SetDocument(text)) << text << doc.ResultText();
  }
}

TEST(XmlData, TextCharacterReferencesAndCdata) {
  XmlDocument doc = Utf8Document(
      "<r><v> 1.5 </v><amp>a&amp;b</amp><cd><![CDATA[x<y]]></cd><kid><w/>3</kid>"
      "<mix>a<!-- c -->b<?p?><![CDATA[&lt;]]>&lt;</mix><refs>&#65;&#x42;&#X43;&eacute;&Eacute;"
      "&apos;&quot;</refs><kept>&#0;&nosuch;&Amp;&#xD800;&a b;&amp</kept>"
      "<long>&thetasym;&verylongnamex;</long></r>");
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement());
  EXPECT_EQ(Data(doc, "v"), " 1.5 ");
  EXPECT_EQ(Data(doc, "amp"), "a&b");
  EXPECT_EQ(Data(doc, "cd"), "x<y");
  EXPECT_EQ(Data(doc, "kid"), "");
  EXPECT_EQ(Data(doc, "mix"), "ab&lt;<");
  EXPECT_EQ(Data(doc, "refs"), "ABC\xC3\xA9\xC3\x89'\"");
  EXPECT_EQ(Data(doc, "kept"), "&#0;&nosuch;&Amp;&#xD800;&a b;&amp");
  EXPECT_EQ(Data(doc, "long"), "\xCF\x91&verylongnamex;");
}

TEST(XmlData, ReferencesWithoutEquivalentInTheCodePageStayAsWritten) {
  XmlDocument doc(28591);  // ISO-8859-1 has no euro sign
  doc.SetDocument("<v>&euro;&#xE9;&#x1F600;</v>");
  ASSERT_TRUE(doc.FindElement());
  EXPECT_EQ(doc.GetElementData(doc.MainElement()), "&euro;\xE9&#x1F600;");
  XmlDocument utf8 = Utf8Document("<v>&#x1F600;</v>");
  ASSERT_TRUE(utf8.FindElement());
  EXPECT_EQ(utf8.GetElementData(utf8.MainElement()), "\xF0\x9F\x98\x80");
}

TEST(XmlData, EntitySetIsHtml4PlusApos) {
  EXPECT_EQ(EntityCount(), 253u);
  EXPECT_EQ(EntityCodePoint("Eacute"), 201u);
  EXPECT_EQ(EntityCodePoint("eacute"), 233u);
  EXPECT_EQ(EntityCodePoint("apos"), 39u);
  EXPECT_EQ(EntityCodePoint("diams"), 9830u);
  EXPECT_EQ(EntityCodePoint("zwnj"), 8204u);
  EXPECT_EQ(EntityCodePoint("AMP"), std::nullopt);
}

}  // namespace
}  // namespace torvexan
