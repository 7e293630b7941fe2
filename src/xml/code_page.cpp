#include "xml/code_page.h"

#include <algorithm>

#include "xml/node_scanner.h"

namespace torvexan {
namespace {

constexpr char16_t kQuestionMark = u'?';
constexpr size_t kMaxErrorTextChars = 99;

// Code pages whose converters cannot say whether a default character was used.
bool CannotReportLoss(uint32_t codePage) {
  switch (codePage) {
    case 50220:
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
    case 52936:
    case 54936:
    case 65000:
    case 65001:
      return true;
    default:
      return codePage >= 57002 && codePage <= 57011;
  }
}

// UTF-32 bytes (little-endian units) to UTF-16; a unit that is no character becomes "?".
void Utf32ToUtf16(std::string_view text, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i + 4 <= text.size(); i += 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(text.data() + i);
    const uint32_t c = b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t{b[3]} << 24);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(kQuestionMark);
    } else if (c > 0xFFFF) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
}

// UTF-16 to UTF-32 bytes; an unpaired surrogate becomes "?".
void Utf16ToUtf32(std::u16string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kQuestionMark;
    }
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(c >> shift));
  }
}

}  // namespace

uint32_t SystemCodePage() {
  return platform_code_page::SystemCodePage();
}

bool ToUtf16(uint32_t codePage, std::string_view text, std::u16string& out, bool& lossOut) {
  lossOut = false;
  if (codePage == 0) codePage = SystemCodePage();
  if (codePage == kCodePageUtf32) {
    Utf32ToUtf16(text, out);
    return true;
  }
  return platform_code_page::ToUtf16(codePage, text, out, lossOut);
}

bool FromUtf16(uint32_t codePage, std::u16string_view text, std::string& out, bool& lossOut) {
  lossOut = false;
  if (codePage == 0) codePage = SystemCodePage();
  if (codePage == kCodePageUtf32) {
    Utf16ToUtf32(text, out);
    return true;
  }
  return platform_code_page::FromUtf16(codePage, text, out, !CannotReportLoss(codePage), lossOut);
}

bool ConvertCodePage(uint32_t from, uint32_t to, std::string_view text, std::string& out,
                     bool& lossOut) {
  std::u16string wide;
  bool decodeLoss = false;
  if (!ToUtf16(from, text, wide, decodeLoss)) return false;
  if (!FromUtf16(to, wide, out, lossOut)) return false;
  lossOut = lossOut || decodeLoss;
  return true;
}

void CharWidths(uint32_t codePage, uint8_t (&widths)[256]) {
  std::fill(std::begin(widths), std::end(widths), uint8_t{1});
  if (codePage == 0) codePage = SystemCodePage();
  auto leads = [&widths](int from, int to, uint8_t width) {
    for (int b = from; b <= to; ++b) widths[b] = width;
  };
  switch (codePage) {
    case 932:
      leads(0x81, 0x9F, 2);
      leads(0xE0, 0xFC, 2);
      break;
    case 936:
    case 949:
    case 950:
    case 54936:
      leads(0x81, 0xFE, 2);
      break;
    case 1361:
      leads(0x84, 0xD3, 2);
      leads(0xD8, 0xDE, 2);
      leads(0xE0, 0xF9, 2);
      break;
    case kCodePageUtf8:
      leads(0xC0, 0xDF, 2 | kUtf8LeadMark);
      leads(0xE0, 0xEF, 3 | kUtf8LeadMark);
      leads(0xF0, 0xF7, 4 | kUtf8LeadMark);
      break;
    default:
      break;
  }
}

int LastSystemError() {
  return platform_code_page::LastSystemError();
}

std::string SystemErrorText(int code) {
  std::string text = platform_code_page::SystemErrorText(code);
  const size_t lineEnd = text.find_first_of("\r\n");
  if (lineEnd != std::string::npos) text.resize(lineEnd);
  if (text.size() > kMaxErrorTextChars) text.resize(kMaxErrorTextChars);
  return text;
}

}  // namespace torvexan
