// Job files as Windows editors save them: UTF-8 with a byte-order mark, and "Unicode"
// (UTF-16 with a mark, either byte order), comments with letters beyond ASCII.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "sim/gcode/job_file.h"
#include "sim/gcode/job_text.h"

namespace torvexan::sim::testing {
namespace {

std::string TempFile(const std::string& name, const std::string& bytes) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

// UTF-16 of text whose characters are given as code points.
std::string Utf16(const std::u32string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  const auto unit = [&](unsigned u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  };
  for (const char32_t c : text) {
    if (c < 0x10000) {
      unit(c);
    } else {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

// The same job in UTF-8: a comment with an e acute and a symbol beyond the basic plane.
const std::string kJob = "(Tasche \xC3\xA9 \xF0\x9F\x94\xA7)\r\nG0 X1\r\nM30\r\n";
const std::u32string kJob32 = U"(Tasche \u00E9 \U0001F527)\r\nG0 X1\r\nM30\r\n";

TEST(JobText, AByteOrderMarkIsLeftOutAndUtf16IsReadAsUtf8) {
  std::string text, error;
  const std::string utf8 = TempFile("torvexan-bom8.nc", "\xEF\xBB\xBF" + kJob);
  ASSERT_TRUE(ReadJobText(utf8, &text, &error)) << error;
  EXPECT_EQ(text, kJob);
  for (const bool bigEndian : {false, true}) {
    const std::string path = TempFile("torvexan-bom16.nc", Utf16(kJob32, bigEndian));
    ASSERT_TRUE(ReadJobText(path, &text, &error)) << error;
    EXPECT_EQ(text, kJob) << bigEndian;
    std::filesystem::remove(path);
  }
  // Read that way the job runs: the mark is no stray character on its first line.
  Job job;
  ASSERT_TRUE(LoadJobFile(utf8, &job, &error)) << error;
  EXPECT_TRUE(job.errors.empty()) << job.errors[0].message;
  const std::vector<Block> blocks = AllBlocks(job);
  ASSERT_EQ(blocks.size(), 3u);  // the comment, the move, the end
  EXPECT_TRUE(blocks[1].moves);
  std::filesystem::remove(utf8);
}

TEST(JobText, Utf16CutShortIsRefusedNamingTheEncoding) {
  std::string text, error;
  const std::string odd = TempFile("torvexan-odd16.nc", Utf16(U"G0 X1\n", false) + "G");
  EXPECT_FALSE(ReadJobText(odd, &text, &error));
  EXPECT_NE(error.find("UTF-16"), std::string::npos) << error;
  const std::string half = TempFile("torvexan-half16.nc", Utf16(U"G0 X1\n", true) + "\xD8\x3D");
  EXPECT_FALSE(ReadJobText(half, &text, &error));
  EXPECT_NE(error.find("UTF-16"), std::string::npos) << error;
  // A long file in UTF-16 crosses chunk boundaries with its pairs intact.
  std::u32string many;
  for (int i = 0; i < 20000; ++i) many += U"(\U0001F527) G0 X1\n";
  const std::string big = TempFile("torvexan-big16.nc", Utf16(many, false));
  ASSERT_TRUE(ReadJobText(big, &text, &error)) << error;
  EXPECT_EQ(text.size(), 20000u * std::string("(\xF0\x9F\x94\xA7) G0 X1\n").size());
  EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos);  // no replacement character
  for (const std::string& p : {odd, half, big}) std::filesystem::remove(p);
}

}  // namespace
}  // namespace torvexan::sim::testing
