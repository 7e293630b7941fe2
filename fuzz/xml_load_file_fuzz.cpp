// Any file contents load without a crash; what loads also saves.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "xml/code_page.h"
#include "xml/text_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvexan;
  static const std::string path = "/tmp/xml_load_file_fuzz." + std::to_string(getpid());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  for (uint32_t codePage : {kCodePageUtf8, 28591u}) {
    XmlDocument doc(codePage);
    if (LoadFile(doc, path)) SaveFile(doc, path + ".out");
  }
  std::remove(path.c_str());
  std::remove((path + ".out").c_str());
  return 0;
}
