// gcode-diff: runs G-code programs through our reader and interpreter and through LinuxCNC's
// standalone interpreter rs274, and compares where every move ends in machine coordinates and
// the path of every arc on the way.
//   gcode-diff --rs274 scripts/rs274 [--tools FILE] JOB...       our own test jobs
//   gcode-diff --rs274 scripts/rs274 --generate N [--seed S]     seeded random programs
// Exit status 0 when every program agrees, 1 when one does not, 2 on a bad command line.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/gcode/gcode.h"
#include "tools/gcode-diff/move_ends.h"
#include "tools/gcode-diff/program_generator.h"

namespace {

using namespace torvexan;

constexpr double kToleranceMm = 0.001;
constexpr int kStatementsPerProgram = 40;

struct Options {
  std::string rs274;
  std::string toolsPath;
  std::string init{sim::kDefaultInit};
  std::vector<std::string> jobs;
  int generate = 0;
  uint64_t seed = 1;
  int statements = kStatementsPerProgram;
  std::string keepDir;  // where disagreeing generated programs are written
  bool verbose = false;
};

struct Tally {
  int programs = 0;
  long moves = 0;
  long arcs = 0;  // rs274's arcs, each compared along its path
  int disagreements = 0;
  int refusedByBoth = 0;  // agree without a move compared past the refusal
};

// toolTable: the text of the tool table (mm), which our reader and rs274's conversion each
// read on their own.
bool CompareOne(const Options& o, const std::string& name, const std::string& text,
                const std::string& toolTable, const std::string& workDir, Tally* t) {
  std::vector<sim::ToolEntry> tools;
  std::string error;
  if (!sim::ParseToolTable(toolTable, &tools, &error)) {
    ++t->programs;
    ++t->disagreements;
    std::printf("%s: our tool-table reader refuses the table: %s\n", name.c_str(), error.c_str());
    return false;
  }
  const gcodediff::Outcome ours = gcodediff::OurMoveEnds(text, tools, o.init);
  const gcodediff::Outcome theirs =
      gcodediff::Rs274MoveEnds(o.rs274, gcodediff::WithInit(text, o.init), toolTable, workDir);
  ++t->programs;
  if (!ours.ok && !theirs.ok) {
    ++t->refusedByBoth;
    if (o.verbose)
      std::printf("%s: both refuse: %s | %s\n", name.c_str(), ours.error.c_str(),
                  theirs.error.c_str());
  }
  t->moves += static_cast<long>(theirs.ends.size());
  for (const gcodediff::MoveEnd& e : theirs.ends) t->arcs += e.arc ? 1 : 0;
  const std::string diff = gcodediff::Compare(ours, theirs, kToleranceMm);
  if (o.verbose) std::printf("%s", gcodediff::Listing(ours, theirs).c_str());
  if (diff.empty()) return true;
  ++t->disagreements;
  std::printf("%s: %s\n", name.c_str(), diff.c_str());
  return false;
}

void Keep(const Options& o, const std::string& name, const gcodediff::GeneratedProgram& p) {
  if (o.keepDir.empty()) return;
  std::filesystem::create_directories(o.keepDir);
  std::ofstream(o.keepDir + "/" + name + ".ngc") << p.text;
  std::ofstream(o.keepDir + "/" + name + ".tools") << p.toolTable;
}

int Run(const Options& o) {
  char pattern[] = "/tmp/gcode-diff.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  const std::string workDir = pattern;
  std::string toolTable;
  if (!o.toolsPath.empty()) {
    std::ifstream in(o.toolsPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    toolTable = text.str();
    std::vector<sim::ToolEntry> tools;
    std::string error;
    if (!in || !sim::ParseToolTable(toolTable, &tools, &error)) {
      std::fprintf(stderr, "%s: %s\n", o.toolsPath.c_str(), in ? error.c_str() : "cannot read");
      return 2;
    }
  }
  Tally t;
  for (const std::string& job : o.jobs) {
    std::ifstream in(job, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    CompareOne(o, job, text.str(), toolTable, workDir, &t);
  }
  for (int i = 0; i < o.generate; ++i) {
    const uint64_t seed = o.seed + static_cast<uint64_t>(i);
    const gcodediff::GeneratedProgram p = gcodediff::GenerateProgram(seed, o.statements);
    const std::string name = "seed-" + std::to_string(seed);
    if (!CompareOne(o, name, p.text, p.toolTable, workDir, &t)) Keep(o, name, p);
  }
  std::filesystem::remove_all(workDir);
  std::printf("compared %d programs, %ld move ends (%ld arcs): %d disagree (%d refused by both)\n",
              t.programs, t.moves, t.arcs, t.disagreements, t.refusedByBoth);
  return t.disagreements == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App app{"Compares our G-code interpreter with LinuxCNC's rs274"};
  app.add_option("--rs274", o.rs274, "command that runs rs274")->required();
  app.add_option("--tools", o.toolsPath, "tool table (mm) for the jobs");
  app.add_option("--init", o.init, "the modal codes every program starts in (both sides)");
  app.add_option("--generate", o.generate, "how many random programs")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--seed", o.seed, "seed of the first random program");
  app.add_option("--statements", o.statements, "statements per random program")
      ->check(CLI::PositiveNumber);
  app.add_option("--keep", o.keepDir, "write disagreeing random programs here");
  app.add_flag("--verbose", o.verbose, "list both sides' move ends");
  app.add_option("jobs", o.jobs, "G-code jobs to compare");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  return Run(o);
}
