// Parse throughput of XmlDocument side by side with pugixml, on a machine profile of 60 KB and
// on a generated document of 20 MB, and the cost of loading and saving the plug-in's settings
// in that profile.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>
#include <string>

#include "config/settings_file.h"
#include "xml/code_page.h"
#include "xml/xml_document.h"

namespace torvexan {
namespace {

namespace fs = std::filesystem;

constexpr size_t kProfileBytes = 60 * 1024;
constexpr size_t kGeneratedBytes = 20 * 1024 * 1024;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The sample profile grown to 60 KB the way a profile grows over the years: more of the same
// host settings around the plug-in's element.
const std::string& MachineProfile() {
  static const std::string profile = [] {
    const std::string sample =
        ReadFile(fs::path(TORVEXAN_SOURCE_DIR) / "tests/config/data/profile.xml");
    const size_t bodyStart = sample.find('\n', sample.find("<Profile>")) + 1;
    const size_t section = sample.find("  <Torvexan>");
    const size_t end = sample.find("</Profile>");
    const std::string hostPart = sample.substr(bodyStart, section - bodyStart);
    std::string before, after;
    bool front = true;
    while (sample.size() + before.size() + after.size() < kProfileBytes) {
      (front ? before : after) += hostPart;
      front = !front;
    }
    return sample.substr(0, bodyStart) + before + sample.substr(bodyStart, end - bodyStart) +
           after + sample.substr(end);
  }();
  return profile;
}

// 20 MB of records with attributes, references, CDATA, comments and nesting.
const std::string& GeneratedDocument() {
  static const std::string document = [] {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<data>\r\n";
    for (int n = 0; text.size() < kGeneratedBytes; ++n) {
      const std::string id = std::to_string(n);
      text += "  <record id=\"" + id + "\" kind='part'>\r\n    <name>Item " + id +
              "</name>\r\n    <value unit=\"mm\">" + std::to_string(n % 977) +
              ".25</value>\r\n    <note>a &amp; b &lt; c</note>\r\n";
      if (n % 10 == 0)
        text += "    <!-- every tenth record -->\r\n    <raw><![CDATA[x<y]]></raw>\r\n";
      text += "    <flags><f on=\"1\"/><f on=\"0\"/></flags>\r\n  </record>\r\n";
    }
    return text + "</data>\r\n";
  }();
  return document;
}

void ParseXmlDocument(benchmark::State& state, const std::string& text) {
  XmlDocument document(kCodePageUtf8);
  for (auto _ : state) {
    const bool wellFormed = document.SetDocument(text);
    if (!wellFormed) state.SkipWithError("not well formed");
    benchmark::DoNotOptimize(document.Index().NextFree());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void ParsePugixml(benchmark::State& state, const std::string& text) {
  pugi::xml_document document;
  for (auto _ : state) {
    const pugi::xml_parse_result result =
        document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) state.SkipWithError(result.description());
    benchmark::DoNotOptimize(document.first_child());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Parse_Profile60K_XmlDocument(benchmark::State& state) {
  ParseXmlDocument(state, MachineProfile());
}
void BM_Parse_Profile60K_Pugixml(benchmark::State& state) {
  ParsePugixml(state, MachineProfile());
}
void BM_Parse_Generated20M_XmlDocument(benchmark::State& state) {
  ParseXmlDocument(state, GeneratedDocument());
}
void BM_Parse_Generated20M_Pugixml(benchmark::State& state) {
  ParsePugixml(state, GeneratedDocument());
}
BENCHMARK(BM_Parse_Profile60K_XmlDocument);
BENCHMARK(BM_Parse_Profile60K_Pugixml);
BENCHMARK(BM_Parse_Generated20M_XmlDocument)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse_Generated20M_Pugixml)->Unit(benchmark::kMillisecond);

// LoadSettings then SaveSettings on a temporary copy of the profile, as at start and stop.
void BM_LoadAndSaveSettings_Profile60K(benchmark::State& state) {
  char pattern[] = "/tmp/xml_bench_XXXXXX";
  if (!mkdtemp(pattern)) return state.SkipWithError("no temporary folder");
  const fs::path folder = pattern;
  PluginSettings settings;
  settings.settingsPath = (folder / "profile.xml").string();
  settings.hasSettingsPath = true;
  std::ofstream(settings.settingsPath, std::ios::binary) << MachineProfile();
  for (auto _ : state) {
    LoadSettings(settings);
    SaveSettings(settings);
  }
  if (ReadFile(settings.settingsPath).size() < MachineProfile().size()) {
    state.SkipWithError("the profile lost text");
  }
  state.counters["profile_bytes"] = static_cast<double>(MachineProfile().size());
  fs::remove_all(folder);
}
BENCHMARK(BM_LoadAndSaveSettings_Profile60K)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace torvexan
