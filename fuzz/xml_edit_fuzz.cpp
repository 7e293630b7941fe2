// Random navigation and edits on a well-formed document: after each step the index must equal a
// fresh parse of the edited text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "index_walk.h"
#include "xml/code_page.h"
#include "xml/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvexan;
  // The first half is the document, the second half the script of operations.
  const size_t split = size / 2;
  XmlDocument doc(kCodePageUtf8);
  if (!doc.SetDocument(std::string_view(reinterpret_cast<const char*>(data), split))) return 0;
  static const char* const kNames[] = {"a", "b", "r", "x", ""};
  for (size_t i = split; i + 1 < size; i += 2) {
    const uint8_t op = data[i] % 8;
    const uint8_t arg = data[i + 1];
    const std::string_view name = kNames[arg % 5];
    const std::string value(1 + arg % 3, static_cast<char>(arg));
    switch (op) {
      case 0:
        doc.FindElement(name);
        break;
      case 1:
        doc.IntoElement();
        break;
      case 2:
        doc.ResetMainPosition();
        break;
      case 3:
        doc.SetElementData(doc.MainElement(), value);
        break;
      case 4:
        doc.AddElement(name, std::nullopt, arg & kAddNoLineBreaks);
        break;
      case 5:
        doc.AddElement(name, value, arg & kAddNoLineBreaks);
        break;
      case 6:
        doc.SetAttribute(doc.MainElement(), name, value);
        break;
      case 7:
        (void)doc.GetElementData(doc.MainElement());
        break;
    }
    if (testing::DescribeIndex(doc) != testing::DescribeFreshParse(doc)) std::abort();
  }
  return 0;
}
