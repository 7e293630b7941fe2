// The G-code reader's speed beside LinuxCNC's rs274 on the same job: a generated job of
// 100,000 moves (lines and arcs by centre in the three planes), read and interpreted into
// machine moves by the simulated host, and run through rs274 with its canonical output
// thrown away. Prints moves per second of each and their ratio; with --sim, also the wall
// time of the whole `torvexan-sim --fast` run (plan, plug-in, virtual card) on the job.
//
//   build/linux/bench/gcode_bench --rs274 scripts/rs274 [--moves N] [--sim PATH]
#include <sys/wait.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

#include "sim/gcode/gcode.h"

namespace {

using namespace torvexan;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultMoves = 100'000;
constexpr int kArcEvery = 4;  // every fourth move is an arc

// Lines wander inside a 200 mm square; arcs are written incrementally so that they fit
// wherever the tool stands.
std::string MakeJob(int moves) {
  std::ostringstream job;
  job << "G21 G90 G17 G94 G64 F1500\nG0 X0 Y0 Z5\nG1 Z0\n";
  char line[160];
  static const char* const kPlanes[] = {"G17", "G18", "G19"};
  static const char* const kLetters[3][4] = {
      {"X", "Y", "I", "J"}, {"Z", "X", "K", "I"}, {"Y", "Z", "J", "K"}};
  for (int i = 0; i < moves; ++i) {
    if (i % kArcEvery == kArcEvery - 1) {
      const int p = (i / kArcEvery) % 3;
      const double a = i * 0.37, r = 2.0 + (i % 7);
      const double ci = -r * std::cos(a), cj = -r * std::sin(a);
      const double b = a + 1.3;
      std::snprintf(line, sizeof line, "%s G91 G3 %s%.4f %s%.4f %s%.4f %s%.4f\nG90\n", kPlanes[p],
                    kLetters[p][0], ci + r * std::cos(b), kLetters[p][1], cj + r * std::sin(b),
                    kLetters[p][2], ci, kLetters[p][3], cj);
    } else {
      std::snprintf(line, sizeof line, "G1 X%.4f Y%.4f Z%.4f\n", 100.0 * std::sin(i * 0.011),
                    100.0 * std::cos(i * 0.017), -1.0 + std::sin(i * 0.05));
    }
    job << line;
  }
  job << "G0 Z5\nM30\n";
  return job.str();
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Reads and interprets the job as the simulated host does before a run; returns seconds.
double OurSeconds(const std::string& text, long* slices) {
  const auto start = Clock::now();
  const sim::Job job = sim::ParseJob(text);
  const double zero[kHostAxisCount] = {};
  sim::Interpreter interpreter(job, sim::kDefaultChordToleranceMm, zero);
  *slices = 0;
  while (std::optional<sim::JobAction> a = interpreter.Next()) ++*slices;
  const double s = Seconds(start);
  if (!job.errors.empty() || interpreter.error()) std::fprintf(stderr, "the job has errors\n");
  return s;
}

double CommandSeconds(const std::string& command, int* status) {
  const auto start = Clock::now();
  *status = std::system(command.c_str());
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  std::string rs274;
  std::string sim;
  int moves = kDefaultMoves;
  CLI::App app{"G-code reading speed against rs274"};
  app.add_option("--rs274", rs274, "command that runs rs274")->required();
  app.add_option("--sim", sim, "torvexan-sim, to time the whole --fast run too");
  app.add_option("--moves", moves, "moves in the job")->check(CLI::PositiveNumber);
  CLI11_PARSE(app, argc, argv);

  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "gcode_bench";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "job.ngc").string();
  const std::string text = MakeJob(moves);
  std::ofstream(path) << text;
  std::ofstream(dir / "tools.tbl") << "";
  std::ofstream(dir / "params.var") << "5220 1\n";

  long slices = 0;
  const double ours = OurSeconds(text, &slices);
  int status = 0;
  const double theirs = CommandSeconds(
      "HOME='" + dir.string() + "' " + rs274 + " -t '" + (dir / "tools.tbl").string() + "' -v '" +
          (dir / "params.var").string() + "' -g '" + path + "' > /dev/null 2>&1",
      &status);
  std::printf("job            %d moves (every %dth an arc), %ld straight slices after reading\n",
              moves, kArcEvery, slices);
  std::printf("ours           %.3f s, %.0f moves/s (read and interpret)\n", ours, moves / ours);
  std::printf("rs274          %.3f s, %.0f moves/s%s\n", theirs, moves / theirs,
              status == 0 ? "" : " (it failed)");
  std::printf("ratio          %.2f (ours / rs274 moves per second)\n", theirs / ours);
  if (!sim.empty()) {
    const double whole =
        // The job sweeps X and Y 100 mm either way of where they start, beyond the built-in
        // machine's travel: a speed figure, not a run a soft limit should stop.
        CommandSeconds(
            sim + " --fast --no-progress --ignore-travel '" + path + "' > /dev/null 2>&1", &status);
    std::printf("--fast run     %.1f s wall time for the whole run (exit status %d)\n", whole,
                WEXITSTATUS(status));
  }
  std::filesystem::remove_all(dir);
  return 0;
}
