// Reads a job's blocks one at a time, in the order they run: lines walked in the text, the
// subprograms called with M98 P L and left with M99, parameters set as the lines that set them
// are read. Nothing of a line is kept once its block is out, so a reader costs the same at
// line 10 and at line ten million; copies share the text and go on alike.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sim/gcode/gcode_parameters.h"
#include "sim/gcode/gcode_words.h"
#include "sim/gcode/job_file.h"
#include "sim/gcode/line_reader.h"

namespace torvexan::sim {

// A line of the text: where it starts and its index (0-based).
struct TextPlace {
  size_t offset = 0;
  size_t index = 0;
};

// What reading finds wrong with lines, what it warns of, and which block last read a probe
// result: kept by the one read before the run and by the check after a probe; the other
// readers read the same text and tell nothing.
class ReadLog {
 public:
  void Error(int line, std::string message);  // the first of a line only
  void Warning(int line, std::string message);
  void UnknownMCode(int line, int code);  // once a line, however often it runs
  void SortErrors();                      // into file order

  std::vector<JobError> errors;  // in the order found
  std::vector<JobWarning> warnings;
  long lastProbeResultReader = -1;  // the index of the last block that read one

 private:
  std::set<int> errorLines_;
  std::set<int> warnedLines_;
};

// What the whole text tells before a line is read: how many lines it has, where each
// subprogram starts, and whether it is a program on tape. Shared by a reader's copies.
struct TextOutline {
  size_t lines = 0;  // '\n' count + 1, the last line possibly empty
  // O<number> at the start of a line: the line after it, where the subprogram's blocks begin.
  std::map<int, TextPlace> labels;
  size_t tapeStart = 0;  // the opening '%' line; `lines` for none
};

class BlockReader {
 public:
  // tools: the tool table, which cutter compensation needs while reading (D words). init: the
  // machine's initialization string, read for its modes before line 1. trips: where probes
  // tripped, by block index; a probe not in it reads as its target. text, init and trips must
  // outlive the reader and its copies.
  BlockReader(std::string_view text, const std::vector<ToolEntry>& tools, std::string_view init,
              const ProbeTrips* trips = nullptr);
  // The job's text, tools, initialization string and trip points.
  explicit BlockReader(const Job& job);

  // The next block, with what was wrong or worth a warning before it in *log when one is
  // given; false at the job's end (M2, M30, M99 in the main program, the end of the file or
  // tape, or a fault that stops reading).
  bool Next(Block* block, ReadLog* log = nullptr);

  // Blocks read so far: the last one's index is count() - 1.
  size_t count() const { return count_; }
  int line() const { return line_; }           // the last block's line, 0 before any
  bool ended() const { return ended_; }        // an M2, M30 or M99 in the main program ended it
  bool finished() const { return finished_; }  // Next found no more blocks
  bool inches() const { return modal_.inches; }

  // The probe of the last block read has run: trips holds where it and those before it
  // tripped, and the lines read from now on read that. trips must outlive the reader.
  void Tripped(const ProbeTrips* trips);

 private:
  void Start(ReadLog* log);
  bool Step(Block* block, ReadLog* log);
  void Call(const LineFlow& flow, int number, ReadLog* log);
  void Return();
  void KeepOffsets(const Block& b);
  void Remember(const Block& b, size_t index);
  void SetProbeResult(int axis, double mm);
  void Finish(ReadLog* log);

  struct Frame {
    TextPlace returnTo;  // the line after the M98
    int left;            // repeats still to run after this one
    TextPlace start;     // the first line of the subprogram
  };

  std::string_view text_;
  std::shared_ptr<const TextOutline> outline_;
  std::vector<ToolEntry> table_;  // as G10 L1 lines change it, for the D words after them
  std::string_view init_;
  const ProbeTrips* trips_;
  ModalState modal_;
  Parameters parameters_;
  std::vector<Frame> stack_;
  std::vector<Word> words_;  // of the line being read, kept for their room
  std::vector<Assignment> assignments_;
  TextPlace at_;  // the next line to read
  size_t count_ = 0;
  int line_ = 0;
  bool started_ = false;
  bool finished_ = false;  // no more blocks
  bool ended_ = false;
  bool stopped_ = false;  // a fault or the end of the tape stopped reading
  bool readAny_ = false;
  bool g92Suspended_ = false;  // G92.2 in force
  bool lastProbe_ = false;     // the last block probes
};

// What reading on from where reader stands to the job's end finds, errors in file order.
ReadLog ReadRest(BlockReader reader);

}  // namespace torvexan::sim
