// Any bytes parse without a crash, and the index stays inside the text and well linked.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "index_walk.h"
#include "xml/code_page.h"
#include "xml/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvexan;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (uint32_t codePage : {kCodePageUtf8, 932u}) {
    XmlDocument doc(codePage);
    doc.SetDocFlags(size % 2 ? kDocIgnoreCase : 0);
    doc.SetDocument(text);
    const ElementStore& index = doc.Index();
    for (ElementNumber n = 1; n < index.NextFree(); ++n) {
      const ElementRecord& r = index[n];
      if (r.start < 0 || r.length <= 0 || static_cast<size_t>(r.End()) > size) std::abort();
      if (text[r.start] != '<') std::abort();
      (void)doc.GetElementData(n);
    }
    int linkErrors = 0;
    testing::DescribeIndex(doc, &linkErrors);
    if (linkErrors != 0) std::abort();
    // Entries stop once the log is past its cap, so all but the last fit under it.
    const size_t lastEntry = doc.ResultText().rfind('<');
    if (lastEntry != std::string::npos && lastEntry > kResultLogCapChars) std::abort();
  }
  return 0;
}
