// LoadFile and SaveFile: byte-order marks, declared and detected encodings, safe replacement.
#include "xml/text_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "xml/code_page.h"
#include "xml/encoding_table.h"

namespace torvexan {
namespace {

namespace fs = std::filesystem;

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/xml_text_file_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }
  void Write(const std::string& name, std::string_view bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  int FilesInFolder() const {
    return static_cast<int>(std::distance(fs::directory_iterator(folder_), {}));
  }

  // Loads, then saves back unchanged; the file must come out as it went in.
  void ExpectRoundTrip(const std::string& name, std::string_view bytes, XmlDocument& doc) {
    Write(name, bytes);
    ASSERT_TRUE(LoadFile(doc, Path(name))) << doc.ResultText();
    ASSERT_TRUE(SaveFile(doc, Path(name))) << doc.ResultText();
    EXPECT_EQ(Read(name), bytes) << doc.ResultText();
  }

  fs::path folder_;
};

std::string Utf16(std::u16string_view units, bool bigEndian) {
  std::string bytes;
  for (char16_t u : units) {
    const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

TEST_F(TextFileTest, Utf8MarkIsDroppedOnLoadAndWrittenOnSave) {
  XmlDocument doc(kCodePageUtf8);
  ExpectRoundTrip("bom.xml", "\xEF\xBB\xBF<r>\xC3\xA9</r>", doc);
  EXPECT_EQ(doc.DocFlags() & kDocBomMask, kDocUtf8Bom);
  XmlDocument again(kCodePageUtf8);
  ASSERT_TRUE(LoadFile(again, Path("bom.xml")));
  EXPECT_EQ(again.Text(), "<r>\xC3\xA9</r>");
  EXPECT_EQ(again.ResultText(), "<bom/><read encoding=\"UTF-8\" length=\"9\"/>");
}

TEST_F(TextFileTest, Utf16BothByteOrdersRoundTrip) {
  const std::u16string text = u"<r a=\"\u00e9\">\u4e2d\U0001F600</r>";
  for (bool bigEndian : {false, true}) {
    XmlDocument doc(kCodePageUtf8);
    const std::string bytes =
        (bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE")) + Utf16(text, bigEndian);
    ExpectRoundTrip("u16.xml", bytes, doc);
    XmlDocument loaded(kCodePageUtf8);
    ASSERT_TRUE(LoadFile(loaded, Path("u16.xml")));
    EXPECT_EQ(loaded.Text(), "<r a=\"\xC3\xA9\">\xE4\xB8\xAD\xF0\x9F\x98\x80</r>");
    EXPECT_EQ(loaded.ResultText().find("endian_swap") != std::string::npos, bigEndian);
    EXPECT_NE(loaded.ResultText().find("<converted_to length=\"21\"/>"), std::string::npos)
        << loaded.ResultText();
  }
}

TEST_F(TextFileTest, DeclaredEncodingIsConvertedBothWays) {
  const std::string bytes = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r>caf\xE9</r>";
  XmlDocument doc(kCodePageUtf8);
  ExpectRoundTrip("latin1.xml", bytes, doc);
  XmlDocument loaded(kCodePageUtf8);
  ASSERT_TRUE(LoadFile(loaded, Path("latin1.xml")));
  ASSERT_TRUE(loaded.FindElement());
  EXPECT_EQ(loaded.GetElementData(loaded.MainElement()), "caf\xC3\xA9");
  EXPECT_NE(loaded.ResultText().find("<read encoding=\"ISO-8859-1\""), std::string::npos);

  // An HTML document names its charset in a meta element.
  EXPECT_EQ(DeclaredEncoding("<html><head><meta http-equiv=\"content-type\" "
                             "content=\"text/html; charset=windows-1251\"></head></html>"),
            "windows-1251");
  EXPECT_EQ(DeclaredEncoding("<html><head></head><meta http-equiv=\"Content-Type\" "
                             "content=\"text/html; charset=koi8-r\"></html>"),
            "");
  EXPECT_EQ(DeclaredEncoding("<x/><?xml encoding=\"ascii\"?>"), "");
  // A syntax error in the head does not end the search.
  EXPECT_EQ(DeclaredEncoding("<html><head><title>a < b</title><meta http-equiv=\"Content-Type\" "
                             "content=\"text/html; charset=koi8-r\"></head></html>"),
            "koi8-r");
}

TEST_F(TextFileTest, Utf8IsDetectedWithoutMarkOrDeclaration) {
  XmlDocument latin(28591);
  Write("detect.xml", " <r>\xC3\xA9</r>");
  ASSERT_TRUE(LoadFile(latin, Path("detect.xml")));
  EXPECT_EQ(latin.Text(), " <r>\xE9</r>");
  EXPECT_EQ(latin.ResultText().substr(0, 53),
            "<read encoding=\"UTF-8\" length=\"10\"/><converted_to len");
  EXPECT_NE(latin.ResultText().find("<utf8_detection/>"), std::string::npos);
  // Saved as UTF-8 again: nothing declared, and a document from a plain UTF-8 file stays one.
  ASSERT_TRUE(SaveFile(latin, Path("detect.xml")));
  EXPECT_EQ(Read("detect.xml"), " <r>\xC3\xA9</r>");

  // Bytes that are no UTF-8 stay in the system code page, and are written back as they were.
  XmlDocument plain(28591);
  ExpectRoundTrip("plain.xml", " <r>\xE9</r>", plain);
  EXPECT_NE(plain.ResultText().find("<write encoding=\"\""), std::string::npos)
      << plain.ResultText();
}

TEST_F(TextFileTest, NullUnitsAreRemoved) {
  XmlDocument doc(kCodePageUtf8);
  Write("nulls.xml", std::string("<r>a\0b\0</r>", 11));
  ASSERT_TRUE(LoadFile(doc, Path("nulls.xml")));
  EXPECT_EQ(doc.Text(), "<r>ab</r>");
  EXPECT_NE(doc.ResultText().find("<nulls_removed count=\"2\"/>"), std::string::npos);
}

TEST_F(TextFileTest, LosslessLoadTakesACodePageThatHoldsTheWholeFile) {
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t codePage;
  };
  const std::string gbk = "<?xml version=\"1.0\" encoding=\"GB2312\"?><r>\xD6\xD0</r>";
  const std::string jis =
      "<?xml version=\"1.0\" encoding=\"ISO-2022-JP\"?><r>\x1B$B$\x3C\x1B(B</r>";
  for (const Case& c : std::initializer_list<Case>{
           {"utf16", "\xFF\xFE" + Utf16(u"<r>\u94E3</r>", false) + std::string(2, '\0'), 65001},
           {"utf16be", "\xFE\xFF" + Utf16(u"<r>\U0001F600</r>", true), 65001},
           {"gbk", gbk, 936},
           {"jis", jis, 65001},
           {"latin1", "<r>caf\xE9</r>", 65001},
           {"nulls", std::string("<r>\0</r>\0", 9), 65001},
           {"detected", " <r>\xE9\x93\xA3</r>", 65001}}) {
    XmlDocument doc(20127);
    Write(c.name, c.bytes);
    ASSERT_TRUE(LoadFileLossless(doc, Path(c.name))) << c.name << doc.ResultText();
    EXPECT_EQ(doc.CodePage(), c.codePage) << c.name;
    EXPECT_FALSE(doc.Log().Has("conversion_loss")) << c.name << doc.ResultText();
    ASSERT_TRUE(SaveFile(doc, Path(c.name))) << c.name << doc.ResultText();
    EXPECT_EQ(Read(c.name), c.bytes) << c.name;
  }
}

TEST_F(TextFileTest, MissingFileKeepsTheDocument) {
  XmlDocument doc(kCodePageUtf8);
  doc.SetDocument("<keep/>");
  EXPECT_FALSE(LoadFile(doc, Path("absent.xml")));
  EXPECT_EQ(doc.Text(), "<keep/>");
  EXPECT_EQ(doc.ResultText(), "<file_error msg=\"" + SystemErrorText(ENOENT) + "\" n=\"" +
                                  std::to_string(ENOENT) + "\"/>");
}

TEST_F(TextFileTest, FailedWriteLeavesTheOriginalIntact) {
  const std::string original = "<r>original</r>";
  Write("target.xml", original);
  XmlDocument doc(kCodePageUtf8);
  doc.SetDocument("<r>" + std::string(1 << 20, 'x') + "</r>");

  // A file-size limit stands in for a full disk: the write fails part way.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool saved_ok = SaveFile(doc, Path("target.xml"));
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved_ok);
  EXPECT_NE(doc.ResultText().find("file_error"), std::string::npos);
  EXPECT_EQ(Read("target.xml"), original);
  EXPECT_EQ(FilesInFolder(), 1) << "no temporary file is left behind";

  // A folder that cannot take a new file.
  EXPECT_FALSE(SaveFile(doc, Path("no-such-folder/target.xml")));
  EXPECT_NE(doc.ResultText().find("<file_error"), std::string::npos);
  Write("plain-file", "x");
  EXPECT_FALSE(SaveFile(doc, Path("plain-file/target.xml")));
  EXPECT_EQ(Read("plain-file"), "x");
}

TEST_F(TextFileTest, ReplacementKeepsPermissionsAndLinks) {
  Write("target.xml", "<r/>");
  ASSERT_EQ(chmod(Path("target.xml").c_str(), 0640), 0);
  ASSERT_EQ(symlink("target.xml", Path("link.xml").c_str()), 0);
  XmlDocument doc(kCodePageUtf8);
  ASSERT_TRUE(LoadFile(doc, Path("link.xml")));
  ASSERT_TRUE(doc.FindElement() && doc.IntoElement());
  ASSERT_TRUE(doc.AddElement("c", std::nullopt, 0));
  ASSERT_TRUE(SaveFile(doc, Path("link.xml")));
  EXPECT_EQ(Read("target.xml"), "<r>\r\n<c/>\r\n</r>");
  EXPECT_TRUE(fs::is_symlink(Path("link.xml")));
  struct stat info {};
  ASSERT_EQ(stat(Path("target.xml").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace torvexan
