// Encoding names, their code pages, and the system code page on this platform.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>

#include "support/locale_environment.h"
#include "xml/code_page.h"
#include "xml/encoding_table.h"

namespace torvexan {
namespace {

TEST(EncodingTable, HoldsEveryNameInItsBucket) {
  int names = 0;
  std::set<int> codePages;
  for (int bucket = 0; bucket < kEncodingBucketCount; ++bucket) {
    for (const char* p = EncodingBucket(bucket); *p;) {
      const int length = (p[0] - '0') * 10 + (p[1] - '0');
      const std::string name(p + 7, length);
      const int codePage = std::stoi(std::string(p + 2, 5));
      unsigned sum = 0;
      for (char c : name) sum += static_cast<unsigned char>(c);
      EXPECT_EQ(static_cast<int>(sum % kEncodingBucketCount), bucket) << name;
      EXPECT_EQ(CodePageOfName(name), static_cast<uint32_t>(codePage)) << name;
      codePages.insert(codePage);
      ++names;
      p += 7 + length;
    }
  }
  EXPECT_EQ(names, 365);
  EXPECT_EQ(codePages.size(), 110u);
}

TEST(EncodingTable, LooksUpNamesWithoutRegardToCase) {
  EXPECT_EQ(CodePageOfName("UTF-8"), 65001u);
  EXPECT_EQ(CodePageOfName("uTf8"), 65001u);
  EXPECT_EQ(CodePageOfName("UTF-32"), 65005u);
  EXPECT_EQ(CodePageOfName("UTF-32BE"), 65005u);
  EXPECT_EQ(CodePageOfName("utf-32"), 12000u);
  EXPECT_EQ(CodePageOfName("Utf-32be"), 12001u);
  EXPECT_EQ(CodePageOfName("ISO-8859-1"), 28591u);
  EXPECT_EQ(CodePageOfName("GB2312"), 936u);
  EXPECT_EQ(CodePageOfName("cp1256 "), 1256u);
  EXPECT_EQ(CodePageOfName("shifft_jis"), 932u);
  EXPECT_EQ(CodePageOfName(""), 0u);
  EXPECT_EQ(CodePageOfName("klingon"), kUnknownCodePage);
  EXPECT_EQ(CodePageOfName(std::string(100, 'a')), kUnknownCodePage);
}

TEST(EncodingTable, UnknownNamesNeverDiffer) {
  EXPECT_FALSE(EncodingsDiffer("klingon", "UTF-8", 1252));
  EXPECT_FALSE(EncodingsDiffer("", "windows-1252", 1252));
  EXPECT_TRUE(EncodingsDiffer("", "UTF-8", 1252));
  EXPECT_FALSE(EncodingsDiffer("utf8", "UTF-8", 1252));
}

TEST(CodePage, SystemCodePageFollowsTheEnvironmentsLocaleNotTheProcesss) {
  const std::string processLocale = std::setlocale(LC_CTYPE, nullptr);
  {
    testing::LocaleEnvironment locale("C.UTF-8");
    EXPECT_EQ(SystemCodePage(), 65001u);
  }
  for (const auto& [locale, codePage] :
       std::initializer_list<std::pair<const char*, uint32_t>>{{"C", 20127u},
                                                               {"POSIX", 20127u},
                                                               {"de_DE.ISO-8859-15@euro", 28605u},
                                                               {"ru_RU.KOI8-R", 20866u},
                                                               {"ja_JP.eucJP", 20932u},
                                                               {"fr_FR.iso88591", 28591u},
                                                               {"zh_CN.GB18030", 54936u}}) {
    testing::LocaleEnvironment environment(locale);
    EXPECT_EQ(SystemCodePage(), codePage) << locale;
  }
  // LC_ALL before LC_CTYPE before LANG.
  {
    testing::LocaleEnvironment unset("");
    const std::string lang = std::getenv("LANG") ? std::getenv("LANG") : "";
    setenv("LANG", "en_GB.ISO-8859-1", 1);
    EXPECT_EQ(SystemCodePage(), 28591u);
    setenv("LC_CTYPE", "el_GR.ISO-8859-7", 1);
    EXPECT_EQ(SystemCodePage(), 28597u);
    unsetenv("LC_CTYPE");
    setenv("LANG", lang.c_str(), 1);
  }
  EXPECT_EQ(std::setlocale(LC_CTYPE, nullptr), processLocale) << "the host's locale stays";
}

TEST(CodePage, ConversionsRoundTripAndReportLoss) {
  std::string out;
  bool loss = true;
  ASSERT_TRUE(ConvertCodePage(936, 65001, "\xD6\xD0\xCE\xC4", out, loss));
  EXPECT_EQ(out, "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_FALSE(loss);
  std::string back;
  ASSERT_TRUE(ConvertCodePage(65001, 936, out, back, loss));
  EXPECT_EQ(back, "\xD6\xD0\xCE\xC4");

  ASSERT_TRUE(ConvertCodePage(65001, 28591,
                              "a\xE2\x82\xAC"
                              "b",
                              out, loss));
  EXPECT_EQ(out, "a?b");
  EXPECT_TRUE(loss);
  ASSERT_TRUE(ConvertCodePage(65001, 1252, "\xE2\x82\xAC", out, loss));
  EXPECT_EQ(out, "\x80");
  EXPECT_FALSE(loss);

  // UTF-32 is converted by the library itself; a surrogate pair becomes one unit.
  std::u16string units;
  ASSERT_TRUE(
      ToUtf16(kCodePageUtf32, std::string("\x00\xF6\x01\x00\xFF\xFF\xFF\x00", 8), units, loss));
  EXPECT_EQ(units, (std::u16string{0xD83D, 0xDE00, u'?'}));
  ASSERT_TRUE(FromUtf16(kCodePageUtf32, std::u16string{0xD83D, 0xDE00, 0xDC00}, out, loss));
  EXPECT_EQ(out, std::string("\x00\xF6\x01\x00?\x00\x00\x00", 8));
}

}  // namespace
}  // namespace torvexan
