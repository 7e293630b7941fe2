#include "sim/gcode/block_reader.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <type_traits>

#include "sim/gcode/tool_table.h"

namespace torvexan::sim {
namespace {

constexpr int kMaxCallDepth = 32;
// Subprogram repeats may add this many blocks to those of the file's own lines, so that a call
// repeated without end stops while reading.
constexpr size_t kMaxRepeatedBlocks = 2'000'000;
constexpr int kLargestLabel = 99'999'999;
static_assert(std::is_trivially_destructible_v<Block>, "a block is made afresh in place");

// The line at place, and in *next the place of the line after it.
std::string_view LineAt(std::string_view text, TextPlace place, TextPlace* next) {
  size_t end = text.find('\n', place.offset);
  if (end == std::string_view::npos) end = text.size();
  *next = TextPlace{end + 1, place.index + 1};
  return text.substr(place.offset, end - place.offset);
}

bool TapeMark(std::string_view line) {
  const size_t first = line.find_first_not_of(" \t\r");
  return first != std::string_view::npos && line[first] == '%';
}

// "O100" at the start of a line: where subprogram 100 begins; -1 for any other line.
int Label(std::string_view line) {
  size_t p = line.find_first_not_of(" \t");
  if (p == std::string_view::npos || (line[p] != 'O' && line[p] != 'o')) return -1;
  int number = 0;
  bool digits = false;
  for (++p; p < line.size() && std::isdigit(static_cast<unsigned char>(line[p])); ++p) {
    number = number * 10 + (line[p] - '0');
    digits = true;
    if (number > kLargestLabel) break;
  }
  return digits ? number : -1;
}

std::shared_ptr<const TextOutline> Outline(std::string_view text) {
  auto outline = std::make_shared<TextOutline>();
  bool firstFound = false;
  bool tape = false;
  size_t tapeStart = 0;
  TextPlace place;
  for (;;) {
    TextPlace next;
    const std::string_view line = LineAt(text, place, &next);
    if (!firstFound && line.find_first_not_of(" \t\r") != std::string_view::npos) {
      firstFound = true;
      tape = TapeMark(line);
      tapeStart = place.index;
    }
    const int label = Label(line);
    if (label >= 0) outline->labels.emplace(label, next);
    if (next.offset > text.size()) break;
    place = next;
  }
  outline->lines = place.index + 1;
  outline->tapeStart = tape ? tapeStart : outline->lines;
  return outline;
}

}  // namespace

void ReadLog::Error(int line, std::string message) {
  if (errorLines_.insert(line).second) errors.push_back(JobError{line, std::move(message)});
}

void ReadLog::Warning(int line, std::string message) {
  warnings.push_back(JobWarning{line, std::move(message)});
}

void ReadLog::UnknownMCode(int line, int code) {
  if (!warnedLines_.insert(line).second) return;
  std::string text = "M";
  text += std::to_string(code);
  text += " means nothing here: skipped";
  warnings.push_back(JobWarning{line, std::move(text)});
}

void ReadLog::SortErrors() {
  // One error a line: the order is the lines'.
  std::sort(errors.begin(), errors.end(),
            [](const JobError& a, const JobError& b) { return a.line < b.line; });
}

BlockReader::BlockReader(std::string_view text, const std::vector<ToolEntry>& tools,
                         std::string_view init, const ProbeTrips* trips)
    : text_(text), outline_(Outline(text)), table_(tools), init_(init), trips_(trips) {}

BlockReader::BlockReader(const Job& job)
    : BlockReader(job.source, job.tools, job.init, &job.trips) {}

bool BlockReader::Next(Block* block, ReadLog* log) {
  if (!started_) Start(log);
  while (!finished_) {
    if (at_.index >= outline_->lines || ended_ || stopped_) {
      Finish(log);
      break;
    }
    if (Step(block, log)) return true;
  }
  return false;
}

// The modes the machine starts in, as its initialization string sets them before line 1; the
// offsets the host kept (the machine file's), which only the run knows: until the file sets
// them they are not read.
void BlockReader::Start(ReadLog* log) {
  started_ = true;
  if (!init_.empty()) {
    std::string error;
    Block block;
    LineFlow flow;
    const auto fail = [&](const std::string& why) {
      if (log != nullptr)
        log->Error(0, "initialization string '" + std::string(init_) + "': " + why);
    };
    if (!ReadWords(init_, parameters_, &words_, &assignments_, &error) ||
        !ReadLine(0, words_, table_, &modal_, &block, &flow, &error)) {
      fail(error);
    } else if (block.moves || block.nonModal != NonModal::kNone || block.changeTool ||
               block.spindle != SpindleTurn::kNone || block.userCode != 0 ||
               block.stop != ProgramStop::kNone || block.probeLog != 0 || flow.call >= 0 ||
               flow.ret || flow.label >= 0 || !assignments_.empty() ||
               (block.toolLength != ToolLength::kKeep && block.toolLength != ToolLength::kCancel)) {
      fail("may set modes only, not move or act");
    }
  }
  for (int p = kG92Parameter; p <= kLastOffsetParameter; ++p) parameters_.SetUnknown(p);
  parameters_.Set(kSystemInForceParameter, modal_.coordinateSystem);
}

void BlockReader::Finish(ReadLog* log) {
  finished_ = true;
  if (!ended_ && !stopped_ && log != nullptr) {
    log->Warning(static_cast<int>(std::min(at_.index, outline_->lines)),
                 "no M2 or M30: the job runs to the end of the file");
  }
}

// Reads the line at at_ and moves on to the line to read next; true when it gave a block.
bool BlockReader::Step(Block* block, ReadLog* log) {
  const TextPlace here = at_;
  const std::string_view line = LineAt(text_, here, &at_);
  const int number = static_cast<int>(here.index) + 1;
  const size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return false;
  // '%' marks the start and end of a program on tape: a file that starts with one ends at
  // the next, as LinuxCNC reads it; what follows is not read. A '%' anywhere else carries
  // nothing.
  if (line[first] == '%') {
    if (outline_->tapeStart < here.index) {
      if (!ended_ && log != nullptr)
        log->Warning(number, "no M2 or M30: the job ends at the closing '%'");
      stopped_ = true;
    }
    return false;
  }
  std::string error;
  // Made afresh where it stands: a block is some 400 bytes, read millions of times.
  std::destroy_at(block);
  std::construct_at(block);
  LineFlow flow;
  if (!ReadWords(line, parameters_, &words_, &assignments_, &error)) {
    // The words that could be read still set what they set (a feed, a motion mode), so
    // that the lines after a typo get no messages of its making.
    std::string knockOn;
    ReadLine(number, words_, table_, &modal_, block, &flow, &knockOn);
    if (log != nullptr) log->Error(number, std::move(error));
    return false;
  }
  if (!ReadLine(number, words_, table_, &modal_, block, &flow, &error)) {
    if (log != nullptr) log->Error(number, std::move(error));
    return false;
  }
  if (flow.label >= 0 && stack_.empty() && readAny_) {
    // The main program ran into the first subprogram: Mach3 ends it there.
    if (log != nullptr) {
      log->Warning(number, "no M2 or M30 before subprogram O" + std::to_string(flow.label) +
                               ": the job ends here");
    }
    at_ = here;
    stopped_ = true;
    return false;
  }
  readAny_ |= !words_.empty() && flow.label < 0;
  for (const Assignment& a : assignments_) parameters_.Set(a.index, a.value);
  KeepOffsets(*block);
  if (block->nonModal == NonModal::kSetTool) {
    SetToolEntry(&table_, block->tableTool, block->hasRadius ? &block->radius : nullptr,
                 block->hasAxis[2] ? &block->axis[2] : nullptr);
  }
  Remember(*block, count_);
  if (block->unknownMCode >= 0 && log != nullptr) log->UnknownMCode(number, block->unknownMCode);
  ++count_;
  line_ = number;
  // A bad line's reading counts for the block after it.
  if (parameters_.TakeProbeResultRead() && log != nullptr) {
    log->lastProbeResultReader = static_cast<long>(count_) - 1;
  }
  if (count_ > outline_->lines + kMaxRepeatedBlocks) {
    if (log != nullptr) {
      log->Error(number, "subprogram repeats run more than " + std::to_string(kMaxRepeatedBlocks) +
                             " blocks beyond the file's own");
    }
    stopped_ = true;
  }
  if (block->stop == ProgramStop::kEnd) {
    ended_ = true;
  } else if (flow.call >= 0) {
    Call(flow, number, log);
  } else if (flow.ret) {
    Return();
  }
  return true;
}

void BlockReader::Call(const LineFlow& flow, int number, ReadLog* log) {
  const auto label = outline_->labels.find(flow.call);
  if (label == outline_->labels.end()) {
    if (log != nullptr) {
      log->Error(number, "'M98': no subprogram O" + std::to_string(flow.call) + " in this file");
    }
    return;
  }
  if (flow.repeats == 0) return;
  if (stack_.size() >= kMaxCallDepth) {
    if (log != nullptr) {
      log->Error(number, "'M98': subprograms nest deeper than " + std::to_string(kMaxCallDepth));
    }
    stopped_ = true;
    return;
  }
  stack_.push_back(Frame{at_, flow.repeats - 1, label->second});
  at_ = label->second;
}

void BlockReader::Return() {
  if (stack_.empty()) {
    ended_ = true;  // M99 in the main program ends it
    return;
  }
  Frame& f = stack_.back();
  if (f.left > 0) {
    --f.left;
    at_ = f.start;
    return;
  }
  at_ = f.returnTo;
  stack_.pop_back();
}

// The offset parameters after a line: the system in force, what G10 L2 and G92.1 set.
// G92 and G10 L20 set offsets from where the machine stands, which only the run knows.
void BlockReader::KeepOffsets(const Block& b) {
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
void BlockReader::Remember(const Block& b, size_t index) {
  lastProbe_ = b.motion == MotionMode::kProbe && b.moves;
  if (!lastProbe_) return;
  if (trips_ != nullptr) {
    const auto trip = trips_->find(index);
    if (trip != trips_->end()) {
      for (int a = 0; a < 3; ++a) SetProbeResult(a, trip->second.at[a]);
      return;
    }
  }
  for (int a = 0; a < 3; ++a) {
    // Where an incremental or machine-coordinate probe ends is not known while reading.
    if (b.hasAxis[a] && !b.incremental && !b.machineCoordinates) SetProbeResult(a, b.axis[a]);
  }
}

void BlockReader::SetProbeResult(int axis, double mm) {
  const double value = mm / (modal_.inches ? kMmPerInch : 1.0);
  parameters_.Set(kProbeResultParameter + axis, value);
  parameters_.Set(kProbeResultParameterNgc + axis, value);
}

void BlockReader::Tripped(const ProbeTrips* trips) {
  trips_ = trips;
  if (!lastProbe_ || count_ == 0) return;
  const auto trip = trips_->find(count_ - 1);
  if (trip == trips_->end()) return;
  for (int a = 0; a < 3; ++a) SetProbeResult(a, trip->second.at[a]);
}

}  // namespace torvexan::sim
