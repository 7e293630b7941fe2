#include "card/card_trace.h"

#include <cinttypes>

namespace torvexan::sim {

TraceSample SampleOf(const VirtualCard& card, uint64_t ms) {
  TraceSample s;
  s.ms = ms;
  s.state = card.state();
  s.endOfStream = card.endOfStream() ? 1 : 0;
  s.buffered = card.bufferedRows();
  s.spindle = card.spindle();
  s.underruns = card.stats().underruns;
  s.tag = card.executingTag();
  s.outputs = card.outputs();
  s.reboots = card.stats().reboots;
  for (int i = 0; i < card.axisCount(); ++i) {
    s.positions[i] = card.position(i);
    s.physical[i] = card.physical(i);
  }
  return s;
}

TraceWriter::TraceWriter(std::FILE* file) : file_(file) {
  std::fputs(
      "# torvexan card trace: ms state end buffered spindle underruns p0..p4 m0..m4 tag "
      "outputs reboots\n",
      file_);
}

void TraceWriter::OnPeriod(const VirtualCard& card) {
  const TraceSample s = SampleOf(card, ++periods_ * kPeriodMs + card.bootedMs());
  std::fprintf(file_, "%" PRIu64 " %d %d %d %d %" PRIu32, s.ms, s.state, s.endOfStream, s.buffered,
               s.spindle, s.underruns);
  for (int32_t p : s.positions) std::fprintf(file_, " %d", p);
  for (int32_t m : s.physical) std::fprintf(file_, " %d", m);
  std::fprintf(file_, " %" PRIu32 " %d %" PRIu32 "\n", s.tag, s.outputs, s.reboots);
}

bool ReadTrace(const std::string& path, const std::function<void(const TraceSample&)>& take) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return false;
  char line[320];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    TraceSample s;
    int32_t* p = s.positions;
    int32_t* m = s.physical;
    if (std::sscanf(line,
                    "%" SCNu64 " %d %d %d %d %" SCNu32 " %d %d %d %d %d %d %d %d %d %d %" SCNu32
                    " %d %" SCNu32,
                    &s.ms, &s.state, &s.endOfStream, &s.buffered, &s.spindle, &s.underruns, &p[0],
                    &p[1], &p[2], &p[3], &p[4], &m[0], &m[1], &m[2], &m[3], &m[4], &s.tag,
                    &s.outputs, &s.reboots) >= 16) {
      take(s);
    }
  }
  std::fclose(f);
  return true;
}

}  // namespace torvexan::sim
