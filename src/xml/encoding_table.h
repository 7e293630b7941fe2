// Encoding names and byte-order marks, and the lookup of a name's code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace torvexan {

inline constexpr int kEncodingBucketCount = 155;
// A name that is not in the table.
inline constexpr uint32_t kUnknownCodePage = 0xFFFFFFFF;
// Names this long or longer are never looked up.
inline constexpr size_t kMaxEncodingNameChars = 100;

// Document flags of the byte-order mark a file came with or is to be written with.
inline constexpr uint32_t kDocUtf16Le = 0x1;
inline constexpr uint32_t kDocUtf8Bom = 0x4;
inline constexpr uint32_t kDocUtf16Be = 0x80;
inline constexpr uint32_t kDocBomMask = kDocUtf16Le | kDocUtf8Bom | kDocUtf16Be;

struct BomRow {
  std::string_view bytes;
  const char* encoding;
  uint32_t docFlag;
};

// Byte-order marks in the order they are tried.
inline constexpr BomRow kBomTable[] = {
    {"\xEF\xBB\xBF", "UTF-8", kDocUtf8Bom},
    {"\xFF\xFE", "UTF-16LE", kDocUtf16Le},
    {"\xFE\xFF", "UTF-16BE", kDocUtf16Be},
};

// The code page of an encoding name: 0 for the empty name (the system code page), 65005 for a
// name starting with "UTF-32", else the table's entry or kUnknownCodePage.
uint32_t CodePageOfName(std::string_view name);

// True when both names are known and stand for different code pages, the empty name standing
// for the given system code page.
bool EncodingsDiffer(std::string_view a, std::string_view b, uint32_t systemCodePage);

// The table itself, for checking its shape: every bucket's entry string.
const char* EncodingBucket(int bucket);

}  // namespace torvexan
