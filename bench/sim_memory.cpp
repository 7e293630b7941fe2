// What a long job costs torvexan-sim: a 3-D raster finish over a relief, about 35,000 lines,
// run with --fast as it is and repeated 10 and 100 times in one file. For each: the file's
// size, the lines, the peak resident memory of the run (the kernel's own count of the
// process), its wall and processor time, the size of the plot it wrote and its exit status.
// Figures, not a pass/fail test.
//
//   build/linux/bench/sim_memory --sim build/linux/tools/torvexan-sim/torvexan-sim
//       [--times 1,10,100] [--keep DIR] [--no-svg]
//   build/linux/bench/sim_memory --write JOB [--times N]   (only the job: N rasters)
//
// Run it inside `unshare -rn` like every run of the simulated machine.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The raster: rows along X over a 120 x 73 mm relief, 0.5 mm apart, a point every 0.5 mm,
// back and forth; the tool follows the relief's height in Z.
constexpr double kWidthMm = 120.0;
constexpr double kStepMm = 0.5;
constexpr int kRows = 146;
constexpr double kFeedMmPerMin = 250.0;
constexpr double kSafeZMm = 5.0;

double Relief(double x, double y) {
  return -3.0 + 1.2 * std::sin(x / 9.0) * std::cos(y / 7.0) + 0.6 * std::cos((x + y) / 15.0);
}

// One raster pass; every pass after the first starts where the first did.
void WriteRaster(std::FILE* f, int pass) {
  const int points = static_cast<int>(kWidthMm / kStepMm) + 1;
  std::fprintf(f, "(pass %d)\nG0 Z%.1f\nG0 X0 Y0\nG1 Z%.3f F%.0f\n", pass + 1, kSafeZMm,
               Relief(0, 0), kFeedMmPerMin);
  for (int row = 0; row < kRows; ++row) {
    const double y = row * kStepMm;
    if (row > 0) std::fprintf(f, "Y%.3f Z%.4f\n", y, Relief(row % 2 ? kWidthMm : 0.0, y));
    for (int i = 1; i < points; ++i) {
      const double x = (row % 2 ? points - 1 - i : i) * kStepMm;
      std::fprintf(f, "X%.3f Z%.4f\n", x, Relief(x, y));
    }
  }
}

bool WriteJob(const std::string& path, int times) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::fprintf(f, "(3-D raster finish, %d passes)\nG21 G90 G17 G94 G64\nM3 S12000\n", times);
  for (int pass = 0; pass < times; ++pass) WriteRaster(f, pass);
  std::fprintf(f, "G0 Z%.1f\nM5\nM30\n", kSafeZMm);
  return std::fclose(f) == 0;
}

long Lines(const std::string& path) {
  long lines = 0;
  if (std::FILE* f = std::fopen(path.c_str(), "r")) {
    for (int c; (c = std::fgetc(f)) != EOF;) lines += c == '\n';
    std::fclose(f);
  }
  return lines;
}

struct RunFigures {
  int status = -1;
  double seconds = 0.0;
  double cpuSeconds = 0.0;  // user and system: what the run cost whatever else the machine did
  long peakKb = 0;
};

// Runs args with its output thrown away; the peak is the child's, from wait4.
RunFigures Measure(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  RunFigures r;
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.peakKb = usage.ru_maxrss;
  r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  std::string sim;
  std::string write;
  std::string keep;
  std::vector<int> times{1, 10, 100};
  bool noSvg = false;
  CLI::App app{"Peak memory and time of torvexan-sim --fast on a long raster job"};
  app.add_option("--sim", sim, "the torvexan-sim to measure");
  app.add_option("--write", write, "only write the job to this file");
  app.add_option("--times", times, "how many rasters in one job")->delimiter(',');
  app.add_option("--keep", keep, "keep the jobs and plots in this directory");
  app.add_flag("--no-svg", noSvg, "run without --svg");
  CLI11_PARSE(app, argc, argv);
  if (!write.empty()) return WriteJob(write, times.front()) ? 0 : 1;
  if (sim.empty()) {
    std::fprintf(stderr, "sim_memory: --sim or --write is needed\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path dir = keep.empty() ? fs::temp_directory_path() / "sim_memory" : fs::path(keep);
  fs::create_directories(dir);
  std::printf("%6s %10s %10s %12s %10s %10s %10s %6s\n", "times", "lines", "file KB", "peak MB",
              "seconds", "cpu s", "svg KB", "exit");
  for (int n : times) {
    const std::string job = (dir / ("raster-" + std::to_string(n) + ".nc")).string();
    const std::string svg = (dir / ("raster-" + std::to_string(n) + ".svg")).string();
    if (!WriteJob(job, n)) {
      std::fprintf(stderr, "sim_memory: cannot write %s\n", job.c_str());
      return 1;
    }
    std::vector<std::string> args{sim, "--fast", "--no-progress"};
    if (!noSvg) args.insert(args.end(), {"--svg", svg});
    args.push_back(job);
    const RunFigures r = Measure(args);
    std::error_code ec;
    const auto svgBytes = noSvg ? 0 : fs::file_size(svg, ec);
    std::printf("%6d %10ld %10.0f %12.1f %10.1f %10.1f %10.0f %6d\n", n, Lines(job),
                static_cast<double>(fs::file_size(job)) / 1024.0, r.peakKb / 1024.0, r.seconds,
                r.cpuSeconds, ec ? 0.0 : static_cast<double>(svgBytes) / 1024.0, r.status);
    std::fflush(stdout);
  }
  if (keep.empty()) fs::remove_all(dir);
  return 0;
}
