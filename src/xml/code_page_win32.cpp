// Code-page conversions through the Windows code-page API.
#ifdef _WIN32

#include <windows.h>

#include "xml/code_page.h"

namespace torvexan::platform_code_page {

uint32_t SystemCodePage() {
  return GetACP();
}

bool ToUtf16(uint32_t codePage, std::string_view text, std::u16string& out, bool& lossOut) {
  out.clear();
  if (text.empty()) return true;
  const int length = static_cast<int>(text.size());
  // Strict decoding first, so that invalid input is noticed; then a tolerant pass.
  int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  DWORD flags = MB_ERR_INVALID_CHARS;
  if (units == 0) {
    flags = 0;
    units = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (units == 0) return false;
    lossOut = true;
  }
  out.resize(units);
  return MultiByteToWideChar(codePage, flags, text.data(), length,
                             reinterpret_cast<wchar_t*>(out.data()), units) == units;
}

bool FromUtf16(uint32_t codePage, std::u16string_view text, std::string& out, bool askLoss,
               bool& lossOut) {
  out.clear();
  if (text.empty()) return true;
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPtr = askLoss ? &usedDefault : nullptr;
  const int bytes =
      WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, nullptr, usedDefaultPtr);
  if (bytes == 0) return false;
  out.resize(bytes);
  if (WideCharToMultiByte(codePage, 0, wide, length, out.data(), bytes, nullptr, usedDefaultPtr) !=
      bytes) {
    return false;
  }
  lossOut = usedDefault != FALSE;
  return true;
}

int LastSystemError() {
  return static_cast<int>(GetLastError());
}

std::string SystemErrorText(int code) {
  char buffer[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, buffer, sizeof(buffer), nullptr);
  return std::string(buffer, length);
}

}  // namespace torvexan::platform_code_page

#endif  // _WIN32
