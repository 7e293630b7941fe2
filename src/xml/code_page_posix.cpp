// Code-page conversions through iconv; the character set of the environment's locale stands for
// the system code page.
#ifndef _WIN32

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "xml/code_page.h"
#include "xml/encoding_table.h"

namespace torvexan::platform_code_page {
namespace {

constexpr char16_t kReplacementChar = 0xFFFD;
constexpr char kDefaultChar = '?';
constexpr size_t kChunkBytes = 4096;
// The code page of a locale without a usable character set: plain ASCII, as in the C locale.
constexpr uint32_t kAsciiCodePage = 20127;

// The iconv name of a code page; code pages that iconv knows as "CPnnn" need no entry.
std::string IconvName(uint32_t codePage) {
  switch (codePage) {
    case 65001:
      return "UTF-8";
    case 65000:
      return "UTF-7";
    case 1200:
      return "UTF-16LE";
    case 1201:
      return "UTF-16BE";
    case 12000:
      return "UTF-32LE";
    case 12001:
      return "UTF-32BE";
    case 20127:
      return "ASCII";
    case 28603:
      return "ISO-8859-13";
    case 28605:
      return "ISO-8859-15";
    case 38598:
      return "ISO-8859-8";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 20932:
    case 51932:
      return "EUC-JP";
    case 51936:
      return "EUC-CN";
    case 51949:
      return "EUC-KR";
    case 54936:
      return "GB18030";
    case 50220:
    case 50221:
    case 50222:
      return "ISO-2022-JP";
    case 50225:
      return "ISO-2022-KR";
    case 10000:
      return "MACINTOSH";
    case 10007:
      return "MAC-CYRILLIC";
    case 10017:
      return "MACUKRAINIAN";
    case 10029:
      return "MAC-CENTRALEUROPE";
    case 10079:
      return "MAC-IS";
    case 708:
      return "ASMO-708";
    case 154:
      return "PT154";
    default:
      break;
  }
  if (codePage >= 28591 && codePage <= 28599) return "ISO-8859-" + std::to_string(codePage - 28590);
  return "CP" + std::to_string(codePage);
}

// One iconv descriptor for the length of a conversion.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as possible into a chunk; returns the iconv result and errno.
  int Step(const char*& in, size_t& inLeft, std::string& out) {
    char chunk[kChunkBytes];
    char* dst = chunk;
    size_t dstLeft = sizeof(chunk);
    char* src = const_cast<char*>(in);
    const size_t result = iconv(cd_, inLeft ? &src : nullptr, &inLeft, &dst, &dstLeft);
    const int err = result == static_cast<size_t>(-1) ? errno : 0;
    in = src;
    out.append(chunk, dst);
    return err;
  }

 private:
  iconv_t cd_;
};

// The locale the environment names for character handling, as setlocale(LC_CTYPE, "") would
// pick it: LC_ALL, then LC_CTYPE, then LANG; none names the C locale.
std::string EnvironmentLocale() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

// The code page of a character-set name, also in the forms the C library writes them
// ("iso88591", "eucJP").
uint32_t CodePageOfCharset(std::string name) {
  uint32_t codePage = CodePageOfName(name);
  if (codePage != kUnknownCodePage) return codePage;
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.starts_with("iso8859") && name.size() > 7 && name[7] != '-') {
    codePage = CodePageOfName("iso8859-" + name.substr(7));
  } else if (name.starts_with("euc") && name.size() > 3 && name[3] != '-') {
    codePage = CodePageOfName("euc-" + name.substr(3));
  }
  return codePage;
}

}  // namespace

// The host's own locale is never changed: a host that never calls setlocale runs in the C
// locale, yet its user's files are written in the character set the environment names.
uint32_t SystemCodePage() {
  const std::string locale = EnvironmentLocale();
  std::string charset;
  const size_t dot = locale.find('.');
  if (dot != std::string::npos) {
    charset = locale.substr(dot + 1, locale.find('@', dot) - dot - 1);
  } else if (locale_t named = newlocale(LC_CTYPE_MASK, locale.c_str(), locale_t{}); named) {
    charset = nl_langinfo_l(CODESET, named);
    freelocale(named);
  }
  const uint32_t codePage = CodePageOfCharset(charset);
  return (codePage == 0 || codePage == kUnknownCodePage) ? kAsciiCodePage : codePage;
}

bool ToUtf16(uint32_t codePage, std::string_view text, std::u16string& out, bool& lossOut) {
  Converter converter("UTF-16LE", IconvName(codePage));
  if (!converter.ok()) return false;
  std::string bytes;
  const char* in = text.data();
  size_t inLeft = text.size();
  while (inLeft > 0) {
    const int err = converter.Step(in, inLeft, bytes);
    if (err == EILSEQ || err == EINVAL) {
      // A byte that starts no character of this code page: replace it and go on.
      bytes.push_back(static_cast<char>(kReplacementChar & 0xFF));
      bytes.push_back(static_cast<char>(kReplacementChar >> 8));
      ++in;
      --inLeft;
      lossOut = true;
    } else if (err != 0 && err != E2BIG) {
      return false;
    }
  }
  converter.Step(in, inLeft, bytes);  // flush any shift state
  out.resize(bytes.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return true;
}

bool FromUtf16(uint32_t codePage, std::u16string_view text, std::string& out, bool askLoss,
               bool& lossOut) {
  Converter converter(IconvName(codePage), "UTF-16LE");
  if (!converter.ok()) return false;
  std::string units;
  units.reserve(text.size() * 2);
  for (char16_t u : text) {
    units.push_back(static_cast<char>(u & 0xFF));
    units.push_back(static_cast<char>(u >> 8));
  }
  out.clear();
  const char* in = units.data();
  size_t inLeft = units.size();
  while (inLeft > 0) {
    const int err = converter.Step(in, inLeft, out);
    if (err == EILSEQ || err == EINVAL) {
      // A character without an equivalent (or an unpaired surrogate) becomes the default char.
      const size_t unit = (in - units.data()) / 2;
      const char16_t u = text[unit];
      // A pair goes whole; half a pair goes alone, so the character after it is kept.
      const bool pair = u >= 0xD800 && u <= 0xDBFF && unit + 1 < text.size() &&
                        text[unit + 1] >= 0xDC00 && text[unit + 1] <= 0xDFFF;
      const size_t skip = pair ? 4 : 2;
      out.push_back(kDefaultChar);
      in += std::min(skip, inLeft);
      inLeft -= std::min(skip, inLeft);
      if (askLoss) lossOut = true;
    } else if (err != 0 && err != E2BIG) {
      return false;
    }
  }
  converter.Step(in, inLeft, out);
  return true;
}

int LastSystemError() {
  return errno;
}

std::string SystemErrorText(int code) {
  return std::strerror(code);
}

}  // namespace torvexan::platform_code_page

#endif  // _WIN32
