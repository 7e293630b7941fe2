// Runs the blocks of a job against where the machine stands: increments, work offsets, tool
// lengths, arcs and canned cycles become straight moves in machine coordinates, and the rest
// becomes the host's actions (dwell, referencing, probing, spindle, user codes, stops, and
// notes for tool changes, coolant and the probe log). After referencing and probing the host
// tells where the machine really stopped.
#pragma once

#include <deque>
#include <optional>

#include <string>
#include <vector>

#include "sim/gcode/arc_geometry.h"
#include "sim/gcode/block_reader.h"
#include "sim/gcode/canned_cycle.h"
#include "sim/gcode/cutter_comp.h"
#include "sim/gcode/job_file.h"
#include "sim/gcode/path_segment.h"
#include "sim/gcode/work_offsets.h"

namespace torvexan::sim {

inline constexpr double kDefaultChordToleranceMm = 0.001;

struct JobAction {
  enum class Kind {
    kMove,
    kDwell,
    kReference,
    kReturnToZero,
    kProbe,
    kSpindle,
    kUserCode,
    kPause,
    kNote,  // nothing moves: a tool change, coolant, the probe log
  };
  Kind kind = Kind::kMove;
  int line = 0;
  PathSegment move;                    // kMove; kProbe: the probe's target and feed
  double seconds = 0.0;                // kDwell
  int axisOrder[kHostAxisCount] = {};  // kReference: axes to reference, in this order
  int axisCount = 0;
  SpindleTurn spindle = SpindleTurn::kNone;  // kSpindle
  double speed = 0.0;                        // kSpindle: revolutions per minute
  int code =
      0;  // kUserCode: 101..227; kNote: 7, 8, 9 coolant, 40 and 41 open and close the probe log
  bool optional = false;  // kPause: M1
  size_t block = 0;       // kProbe: its block's index (the count of blocks read before it)
  std::string text;       // kNote; kSpindle: the cycle that stops or restarts the spindle
};

// What the job changed that the report tells at its end.
struct ToolChange {
  int line = 0;
  int tool = 0;
};

class Interpreter {
 public:
  // referenced: where each axis stands after it was referenced on its switch (machine units),
  // until SetPosition says otherwise. offsets: the coordinate systems and G92 offset in force
  // before the job's first line.
  Interpreter(const Job& job, double chordTolerance, const double referenced[kHostAxisCount],
              const WorkOffsets& offsets = WorkOffsets());

  // The next action; nothing at the end of the job or after an error (see error()).
  std::optional<JobAction> Next();
  const std::optional<JobError>& error() const { return error_; }

  // The probe of block `probe` (JobAction::block) has run, and trips holds where it and the
  // probes before it tripped: the lines read from now on read that. trips must outlive the
  // interpreter and its copies.
  void Tripped(size_t probe, const ProbeTrips& trips);
  // Where reading stands: the blocks read, the last one's line, whether the job ended.
  const BlockReader& reader() const { return reader_; }
  // What reading finds from now on goes to *log (nullptr: nowhere). log must outlive the
  // reading of this interpreter and of its copies.
  void LogReading(ReadLog* log) { log_ = log; }

  // Where the machine stands now (machine units), after a referencing or a probe.
  void SetPosition(const double machine[kHostAxisCount]);
  const double* position() const { return position_; }
  const WorkOffsets& offsets() const { return offsets_; }
  int tool() const { return tool_; }

 private:
  void Expand(const Block& b);
  void Move(const Block& b, const double target[kHostAxisCount], bool rapid);
  void Arc(const Block& b, const double target[kHostAxisCount]);
  void Pocket(const Block& b);
  void Slices(const Block& b, const sim::Arc& arc, const PlaneAxes& p,
              const double target[kHostAxisCount]);
  void Target(const Block& b, double target[kHostAxisCount]) const;
  void ArcCentre(const Block& b, double* cx, double* cy) const;
  void Note(const Block& b, std::string text, int code = 0);
  void Tools(const Block& b);
  void Coolant(const Block& b);
  bool NonModalCodes(const Block& b);
  void SetOffsets(const Block& b);
  void Motion(const Block& programmed, const double target[kHostAxisCount]);
  bool FeedPerMinute(const Block& b, const double target[kHostAxisCount], double* feed);
  void Cycle(const Block& b);
  bool Compensate(const Block& b, const double target[kHostAxisCount], bool rapid,
                  const CompArc* arc);
  void PushMoves(const std::vector<PathSegment>& moves);
  void FlushComp(const Block* b);
  const ToolEntry* FindTool(int number) const;
  bool SpindleTurning() const {
    return turning_ == SpindleTurn::kClockwise || turning_ == SpindleTurn::kCounterClockwise;
  }

  const Job* job_;
  BlockReader reader_;
  ReadLog* log_ = nullptr;
  Block block_;                   // the block being carried out
  std::vector<ToolEntry> tools_;  // the job's table, as G10 L1 changes it
  double tolerance_;
  double referenced_[kHostAxisCount];
  std::deque<JobAction> pending_;
  std::optional<JobError> error_;
  double position_[kHostAxisCount] = {};  // machine units
  WorkOffsets offsets_;
  double speed_ = 0.0;                        // S, modal
  SpindleTurn turning_ = SpindleTurn::kStop;  // M3, M4 or M5 last
  int tool_ = 0;                              // in the spindle
  std::vector<CycleStep> cycle_;
  std::vector<PathSegment> slices_;  // an arc's, kept to spare an allocation per arc
  CycleHeights cycleHeights_;
  RadiusComp comp_;
  bool leavingComp_ = false;  // compensation ended; the tool has not left the offset yet
};

}  // namespace torvexan::sim
