// Edits of XmlDocument: text replacement, added elements, attributes, and the index after them.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "index_walk.h"
#include "xml/code_page.h"
#include "xml/xml_document.h"

namespace torvexan {
namespace {

using testing::Utf8Document;

void ExpectIndexMatchesText(const XmlDocument& doc) {
  EXPECT_EQ(testing::DescribeIndex(doc), testing::DescribeFreshParse(doc)) << doc.Text();
}

TEST(XmlEditing, SetElementDataEscapesAndOpensEmptyElements) {
  XmlDocument doc = Utf8Document("<r><v/><w a=\"1\" /><x>old</x><y/></r>");
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement() && doc.FindElement("v"));
  ASSERT_TRUE(doc.SetElementData(doc.MainElement(), "a<b"));
  ASSERT_TRUE(doc.FindElement("w"));
  ASSERT_TRUE(doc.SetElementData(doc.MainElement(), "q\"'&>"));
  ASSERT_TRUE(doc.FindElement("x"));
  ASSERT_TRUE(doc.SetElementData(doc.MainElement(), ""));
  EXPECT_EQ(doc.Text(), "<r><v>a&lt;b</v><w a=\"1\" >q\"'&amp;&gt;</w><x></x><y/></r>");
  EXPECT_EQ(doc.GetElementData(doc.Index()[1].firstChild), "a<b");
  ExpectIndexMatchesText(doc);
  // An element with children is refused and left alone.
  const std::string before = doc.Text();
  EXPECT_FALSE(doc.SetElementData(1, "x"));
  EXPECT_EQ(doc.Text(), before);
}

TEST(XmlEditing, AddElementOpensAnEmptyParent) {
  XmlDocument doc = Utf8Document("<r/>");
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement());
  ASSERT_TRUE(doc.AddElement("c", std::nullopt, 0));
  EXPECT_EQ(doc.Text(), "<r>\r\n<c/>\r\n</r>");
  ExpectIndexMatchesText(doc);

  doc.SetDocument("<r></r>");
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement());
  ASSERT_TRUE(doc.AddElement("c", "1&2", 0));
  EXPECT_EQ(doc.Text(), "<r>\r\n<c>1&amp;2</c>\r\n</r>");
  ExpectIndexMatchesText(doc);
}

TEST(XmlEditing, AddElementPlacement) {
  // As last child: just before the parent's end tag.
  XmlDocument doc = Utf8Document("<r>\r\n  <a/>\r\n</r>");
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement());
  ASSERT_TRUE(doc.AddElement("z", std::nullopt, 0));
  EXPECT_EQ(doc.Text(), "<r>\r\n  <a/>\r\n<z/>\r\n</r>");
  EXPECT_EQ(doc.ElementName(doc.MainElement()), "z");
  ExpectIndexMatchesText(doc);

  // After the main element, beyond the white space that follows it.
  doc.SetDocument("<r>\r\n  <a/>\r\n  <b/>\r\n</r>");
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement() && doc.FindElement("a"));
  ASSERT_TRUE(doc.AddElement("n", std::nullopt, 0));
  EXPECT_EQ(doc.Text(), "<r>\r\n  <a/>\r\n  <n/>\r\n<b/>\r\n</r>");
  ASSERT_TRUE(doc.FindElement());
  EXPECT_EQ(doc.ElementName(doc.MainElement()), "b") << "the new element is linked before b";
  ExpectIndexMatchesText(doc);

  // Text after the main element: the new element goes right behind it.
  doc.SetDocument("<r><a/>text<b/></r>");
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement() && doc.FindElement("a"));
  ASSERT_TRUE(doc.AddElement("n", std::nullopt, kAddNoLineBreaks));
  EXPECT_EQ(doc.Text(), "<r><a/><n/>text<b/></r>");
  ExpectIndexMatchesText(doc);

  // At top level, at the end of the text.
  doc.SetDocument("");
  ASSERT_TRUE(doc.AddElement("e", std::nullopt, kAddNoLineBreaks));
  ASSERT_TRUE(doc.AddElement("f", std::nullopt, kAddNoLineBreaks));
  EXPECT_EQ(doc.Text(), "<e/><f/>");
  ExpectIndexMatchesText(doc);

  EXPECT_FALSE(doc.AddElement("a b", std::nullopt, 0));
  EXPECT_FALSE(doc.AddElement("", std::nullopt, 0));
  EXPECT_FALSE(doc.AddElement("1x", std::nullopt, 0));
}

TEST(XmlEditing, SetAttributeAddsOrReplaces) {
  XmlDocument doc = Utf8Document("<r><a x='1' y=\"2\"/><b>t</b></r>");
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement() && doc.FindElement("a"));
  ASSERT_TRUE(doc.SetAttribute(doc.MainElement(), "x", "<\"'&>"));
  ASSERT_TRUE(doc.SetAttribute(doc.MainElement(), "z", "3"));
  ASSERT_TRUE(doc.FindElement("b"));
  ASSERT_TRUE(doc.SetAttribute(doc.MainElement(), "k", ""));
  EXPECT_EQ(doc.Text(),
            "<r><a x=\"&lt;&quot;&apos;&amp;&gt;\" y=\"2\" z=\"3\"/><b k=\"\">t</b></r>");
  EXPECT_EQ(doc.GetElementData(doc.MainElement()), "t");
  ExpectIndexMatchesText(doc);
}

TEST(XmlEditing, SetAttributeNeverSplitsTheEndOfAnEmptyElement) {
  // A value without its "=" before the last one (found by the edit fuzzer): the new attribute
  // goes before "/>", and the element stays empty.
  for (const char* tag : {"<b x= x=\"09\"/>", "<b a=\"1\"/>"}) {
    XmlDocument doc = Utf8Document(std::string("<r>") + tag + "</r>");
    ASSERT_TRUE(doc.FindElement() && doc.IntoElement() && doc.FindElement("b")) << tag;
    ASSERT_TRUE(doc.SetAttribute(doc.MainElement(), "k", "v")) << tag;
    const std::string text(doc.Text());
    EXPECT_NE(text.find(" k=\"v\"/></r>"), std::string::npos) << text;
    ExpectIndexMatchesText(doc);
  }
  // A quote inside a value without quotes: the attribute walk cannot tell where the parser ends
  // the tag, so the edit is refused and the text kept.
  {
    XmlDocument quoted = Utf8Document("<r><b x=-x=\"?>\"/></r>");
    ASSERT_TRUE(quoted.FindElement() && quoted.IntoElement() && quoted.FindElement("b"));
    const std::string before(quoted.Text());
    EXPECT_FALSE(quoted.SetAttribute(quoted.MainElement(), "b", "z"));
    EXPECT_EQ(quoted.Text(), before);
    ExpectIndexMatchesText(quoted);
  }
  // An unquoted value takes the "/" with it: the tag was no empty element and stays none.
  XmlDocument doc = Utf8Document("<r><b x=y/></r>");
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement() && doc.FindElement("b"));
  ASSERT_TRUE(doc.SetAttribute(doc.MainElement(), "k", "v"));
  ExpectIndexMatchesText(doc);
}

TEST(XmlEditing, RandomEditSequencesKeepTheIndexTrue) {
  const char* names[] = {"a", "b", "c"};
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    std::mt19937 random(seed);
    XmlDocument doc = Utf8Document("<r>\r\n <a>1</a>\r\n <b><c/></b>\r\n <a/>\r\n</r>");
    for (int step = 0; step < 25; ++step) {
      const char* name = names[random() % 3];
      switch (random() % 7) {
        case 0:
          doc.FindElement(name);
          break;
        case 1:
          doc.FindElement();
          break;
        case 2:
          doc.IntoElement();
          break;
        case 3:
          doc.ResetMainPosition();
          break;
        case 4:
          doc.SetElementData(doc.MainElement(), "v<&>" + std::to_string(step));
          break;
        case 5:
          doc.AddElement(name, random() % 2 ? std::optional<std::string_view>("x") : std::nullopt,
                         random() % 2 ? 0 : kAddNoLineBreaks);
          break;
        case 6:
          doc.SetAttribute(doc.MainElement(), name, "q'\"");
          break;
      }
      ASSERT_EQ(testing::DescribeIndex(doc), testing::DescribeFreshParse(doc))
          << "seed " << seed << " step " << step << "\n"
          << doc.Text();
    }
  }
}

}  // namespace
}  // namespace torvexan
