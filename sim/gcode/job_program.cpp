// The program's flow while reading: lines in order, subprograms called with M98 P L and left
// with M99, parameters set as the lines that set them are read.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "sim/gcode/gcode_words.h"
#include "sim/gcode/job_file.h"
#include "sim/gcode/line_reader.h"
#include "sim/gcode/tool_table.h"

namespace torvexan::sim {
namespace {

constexpr int kMaxCallDepth = 32;
// Subprogram repeats may add this many blocks to those of the file's own lines (some
// 300 bytes each), so that a call repeated without end stops while reading.
constexpr size_t kMaxRepeatedBlocks = 2'000'000;

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    if (end == text.size()) break;
    start = end + 1;
  }
  return lines;
}

// "O100" at the start of a line: where subprogram 100 begins.
std::map<int, size_t> FindLabels(const std::vector<std::string_view>& lines) {
  std::map<int, size_t> labels;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    size_t p = l.find_first_not_of(" \t");
    if (p == std::string_view::npos || (l[p] != 'O' && l[p] != 'o')) continue;
    int number = 0;
    bool digits = false;
    for (++p; p < l.size() && std::isdigit(static_cast<unsigned char>(l[p])); ++p) {
      number = number * 10 + (l[p] - '0');
      digits = true;
      if (number > 99'999'999) break;
    }
    if (digits) labels.emplace(number, i);
  }
  return labels;
}

struct Frame {
  size_t returnTo;  // line index after the M98
  int left;         // repeats still to run after this one
  size_t start;     // line index of the O line
};

class ProgramReader {
 public:
  ProgramReader(std::string_view text, const std::vector<ToolEntry>& tools, const ProbeTrips& trips,
                std::string_view init)
      : lines_(SplitLines(text)),
        labels_(FindLabels(lines_)),
        tools_(tools),
        table_(tools),
        trips_(trips) {
    job_.source = text;
    job_.init = init;
  }

  Job Run() {
    job_.tools = tools_;
    // One block a line, mostly: grown by doubling, a long job's blocks would at times take
    // half as much again as they hold.
    job_.blocks.reserve(lines_.size());
    if (!job_.init.empty()) Initialize();
    // The machine starts with the offsets the host kept (the machine file's), which only
    // the run knows: until the file sets them they are not read.
    for (int p = kG92Parameter; p <= kLastOffsetParameter; ++p) parameters_.SetUnknown(p);
    parameters_.Set(kSystemInForceParameter, modal_.coordinateSystem);
    const size_t first = FirstLine();
    tapeStart_ = first < lines_.size() && TapeMark(lines_[first]) ? first : lines_.size();
    size_t pc = 0;
    while (pc < lines_.size() && !job_.ended && !stopped_) pc = Step(pc);
    if (!job_.ended && !stopped_) {
      job_.warnings.push_back({static_cast<int>(std::min(pc, lines_.size())),
                               "no M2 or M30: the job runs to the end of the file"});
    }
    std::sort(job_.errors.begin(), job_.errors.end(),
              [](const JobError& a, const JobError& b) { return a.line < b.line; });
    return std::move(job_);
  }

 private:
  // The modes the machine starts in, as its initialization string sets them before line 1.
  void Initialize() {
    std::string error;
    Block block;
    LineFlow flow;
    if (!ReadWords(job_.init, parameters_, &words_, &assignments_, &error) ||
        !ReadLine(0, words_, table_, &modal_, &block, &flow, &error)) {
      AddError(0, "initialization string '" + job_.init + "': " + error);
    } else if (block.moves || block.nonModal != NonModal::kNone || block.changeTool ||
               block.spindle != SpindleTurn::kNone || block.userCode != 0 ||
               block.stop != ProgramStop::kNone || block.probeLog != 0 || flow.call >= 0 ||
               flow.ret || flow.label >= 0 || !assignments_.empty() ||
               (block.toolLength != ToolLength::kKeep && block.toolLength != ToolLength::kCancel)) {
      AddError(0, "initialization string '" + job_.init + "': may set modes only, not move or act");
    }
  }

  size_t FirstLine() const {
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i].find_first_not_of(" \t\r") != std::string_view::npos) return i;
    }
    return lines_.size();
  }

  static bool TapeMark(std::string_view line) {
    const size_t first = line.find_first_not_of(" \t\r");
    return first != std::string_view::npos && line[first] == '%';
  }

  // Reads line pc; returns the line to read next.
  size_t Step(size_t pc) {
    const int number = static_cast<int>(pc) + 1;
    const std::string_view line = lines_[pc];
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return pc + 1;
    // '%' marks the start and end of a program on tape: a file that starts with one ends at
    // the next, as LinuxCNC reads it; what follows is not read. A '%' anywhere else carries
    // nothing.
    if (line[first] == '%') {
      if (tapeStart_ < pc) {
        if (!job_.ended)
          job_.warnings.push_back({number, "no M2 or M30: the job ends at the closing '%'"});
        stopped_ = true;
      }
      return pc + 1;
    }
    std::string error;
    Block block;
    LineFlow flow;
    if (!ReadWords(line, parameters_, &words_, &assignments_, &error)) {
      // The words that could be read still set what they set (a feed, a motion mode), so
      // that the lines after a typo get no messages of its making.
      std::string knockOn;
      ReadLine(number, words_, table_, &modal_, &block, &flow, &knockOn);
      AddError(number, error);
      return pc + 1;
    }
    if (!ReadLine(number, words_, table_, &modal_, &block, &flow, &error)) {
      AddError(number, error);
      return pc + 1;
    }
    if (flow.label >= 0 && stack_.empty() && readAny_) {
      // The main program ran into the first subprogram: Mach3 ends it there.
      job_.warnings.push_back({number, "no M2 or M30 before subprogram O" +
                                           std::to_string(flow.label) + ": the job ends here"});
      stopped_ = true;
      return pc;
    }
    readAny_ |= !words_.empty() && flow.label < 0;
    for (const Assignment& a : assignments_) parameters_.Set(a.index, a.value);
    KeepOffsets(block);
    if (block.nonModal == NonModal::kSetTool) {
      SetToolEntry(&table_, block.tableTool, block.hasRadius ? &block.radius : nullptr,
                   block.hasAxis[2] ? &block.axis[2] : nullptr);
    }
    Remember(block, job_.blocks.size());
    if (block.unknownMCode >= 0 && warned_.insert(number).second) {
      std::string text = "M";
      text += std::to_string(block.unknownMCode);
      text += " means nothing here: skipped";
      job_.warnings.push_back({number, std::move(text)});
    }
    job_.blocks.push_back(block);
    job_.inches = job_.inches || (block.moves && modal_.inches);
    if (parameters_.TakeProbeResultRead()) {
      job_.lastProbeResultReader = static_cast<long>(job_.blocks.size()) - 1;
    }
    if (job_.blocks.size() > lines_.size() + kMaxRepeatedBlocks) {
      AddError(number, "subprogram repeats run more than " + std::to_string(kMaxRepeatedBlocks) +
                           " blocks beyond the file's own");
      stopped_ = true;
    }
    if (block.stop == ProgramStop::kEnd) {
      job_.ended = true;
      return pc + 1;
    }
    if (flow.call >= 0) return Call(pc, number, flow);
    if (flow.ret) return Return(pc);
    return pc + 1;
  }

  size_t Call(size_t pc, int number, const LineFlow& flow) {
    const auto label = labels_.find(flow.call);
    if (label == labels_.end()) {
      AddError(number, "'M98': no subprogram O" + std::to_string(flow.call) + " in this file");
      return pc + 1;
    }
    if (flow.repeats == 0) return pc + 1;
    if (stack_.size() >= kMaxCallDepth) {
      AddError(number, "'M98': subprograms nest deeper than " + std::to_string(kMaxCallDepth));
      stopped_ = true;
      return pc + 1;
    }
    stack_.push_back(Frame{pc + 1, flow.repeats - 1, label->second});
    return label->second + 1;
  }

  size_t Return(size_t pc) {
    if (stack_.empty()) {
      job_.ended = true;  // M99 in the main program ends it
      return pc + 1;
    }
    Frame& f = stack_.back();
    if (f.left > 0) {
      --f.left;
      return f.start + 1;
    }
    const size_t back = f.returnTo;
    stack_.pop_back();
    return back;
  }

  // The offset parameters after a line: the system in force, what G10 L2 and G92.1 set.
  // G92 and G10 L20 set offsets from where the machine stands, which only the run knows.
  void KeepOffsets(const Block& b) {
    parameters_.Set(kSystemInForceParameter, modal_.coordinateSystem);
    const int system = b.offsetSystem == 0 ? modal_.coordinateSystem : b.offsetSystem;
    const int first = kFirstSystemParameter + kSystemParameterStride * (system - 1);
    for (int a = 0; a < kHostAxisCount; ++a) {
      if (!b.hasAxis[a]) continue;
      if (b.nonModal == NonModal::kSetSystem) parameters_.Set(first + a, b.axis[a]);
      if (b.nonModal == NonModal::kSetSystemHere) parameters_.SetUnknown(first + a);
    }
    // G92 and G52 while the offset is suspended start from an offset of 0 (WorkOffsets).
    const bool sets = b.nonModal == NonModal::kSetOffset || b.nonModal == NonModal::kLocalOffset;
    for (int a = 0; a < kHostAxisCount; ++a) {
      const int index = kG92Parameter + a;
      if (sets && g92Suspended_ && !b.hasAxis[a]) parameters_.Set(index, 0.0);
      if (b.nonModal == NonModal::kSetOffset && b.hasAxis[a]) parameters_.SetUnknown(index);
      if (b.nonModal == NonModal::kLocalOffset && b.hasAxis[a]) parameters_.Set(index, b.axis[a]);
      if (b.nonModal == NonModal::kClearOffset) parameters_.Set(index, 0.0);
    }
    if (b.nonModal == NonModal::kSuspendOffset) g92Suspended_ = true;
    if (sets || b.nonModal == NonModal::kClearOffset || b.nonModal == NonModal::kRestoreOffset)
      g92Suspended_ = false;
  }

  // What later lines may read of the probe at block index: where it tripped once it has run,
  // until then where it was sent. In the program's units.
  void Remember(const Block& b, size_t index) {
    if (b.motion != MotionMode::kProbe || !b.moves) return;
    const double unit = modal_.inches ? kMmPerInch : 1.0;
    const auto trip = trips_.find(index);
    for (int a = 0; a < 3; ++a) {
      double mm = 0.0;
      if (trip != trips_.end()) {
        mm = trip->second.at[a];
      } else if (b.hasAxis[a] && !b.incremental && !b.machineCoordinates) {
        mm = b.axis[a];
      } else {
        continue;  // where it ends is not known while reading
      }
      parameters_.Set(kProbeResultParameter + a, mm / unit);
      parameters_.Set(kProbeResultParameterNgc + a, mm / unit);
    }
  }

  void AddError(int line, const std::string& message) {
    if (errorLines_.insert(line).second) job_.errors.push_back(JobError{line, message});
  }

  std::vector<std::string_view> lines_;
  std::map<int, size_t> labels_;
  const std::vector<ToolEntry>& tools_;
  std::vector<ToolEntry> table_;  // as G10 L1 lines change it, for the D words after them
  const ProbeTrips& trips_;
  Job job_;
  ModalState modal_;
  Parameters parameters_;
  std::vector<Frame> stack_;
  std::vector<Word> words_;
  std::vector<Assignment> assignments_;
  std::set<int> errorLines_;
  std::set<int> warned_;
  bool readAny_ = false;
  bool stopped_ = false;
  bool g92Suspended_ = false;  // G92.2 in force
  size_t tapeStart_ = 0;       // the line of the opening '%'; the number of lines for none
};

}  // namespace

Job ParseJob(std::string_view text, const std::vector<ToolEntry>& tools, const ProbeTrips& trips,
             std::string_view init) {
  return ProgramReader(text, tools, trips, init).Run();
}

}  // namespace torvexan::sim
