// Conversions between the document's 8-bit code page and UTF-16, behind one narrow seam:
// Windows uses its code-page API, POSIX systems use iconv.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torvexan {

inline constexpr uint32_t kCodePageUtf16 = 1200;
inline constexpr uint32_t kCodePageUtf16Be = 1201;
inline constexpr uint32_t kCodePageUtf8 = 65001;
// The library's own mark for UTF-32, converted here rather than by the platform.
inline constexpr uint32_t kCodePageUtf32 = 65005;

// The code page of 8-bit text on this system: the ANSI code page on Windows, elsewhere the code
// page of the character set of the locale the environment names (the process's locale is not
// consulted, so a host that never calls setlocale still gets its user's character set).
uint32_t SystemCodePage();

// 8-bit text of a code page to UTF-16. Bytes that do not decode become U+FFFD and set lossOut.
// False when the platform has no converter for the code page.
bool ToUtf16(uint32_t codePage, std::string_view text, std::u16string& out, bool& lossOut);

// UTF-16 to a code page. Characters without an equivalent become "?"; lossOut tells whether
// that happened, except for the code pages where the platform cannot tell (then it stays false).
// False when the platform has no converter for the code page.
bool FromUtf16(uint32_t codePage, std::u16string_view text, std::string& out, bool& lossOut);

// 8-bit text from one code page to another, through UTF-16.
bool ConvertCodePage(uint32_t from, uint32_t to, std::string_view text, std::string& out,
                     bool& lossOut);

// Bytes taken by the character whose first byte is given, for every byte value, so that
// scanning never splits a lead byte from its trail bytes; UTF-8 lead bytes also carry
// kUtf8LeadMark (see CharLength).
void CharWidths(uint32_t codePage, uint8_t (&widths)[256]);

// The last system error code of a failed file operation, and the first line of its text.
int LastSystemError();
std::string SystemErrorText(int code);

namespace platform_code_page {
// The platform converters behind ToUtf16 and FromUtf16 (UTF-32 is handled before them).
uint32_t SystemCodePage();
bool ToUtf16(uint32_t codePage, std::string_view text, std::u16string& out, bool& lossOut);
bool FromUtf16(uint32_t codePage, std::u16string_view text, std::string& out, bool askLoss,
               bool& lossOut);
int LastSystemError();
std::string SystemErrorText(int code);
}  // namespace platform_code_page

}  // namespace torvexan
