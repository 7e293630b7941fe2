// Runs the blocks of a job against where the machine stands: increments, G92 offsets and arcs
// become straight moves in machine coordinates, and the rest becomes the host's actions
// (dwell, referencing, probing, spindle, user codes, stops). After referencing and probing
// the host tells where the machine really stopped.
#pragma once

#include <deque>
#include <optional>

#include "sim/host/job_file.h"

namespace torvexan::sim {

inline constexpr double kDefaultChordToleranceMm = 0.001;

// One straight move; targets in machine units (mm, degrees).
struct PathSegment {
  int line = 0;
  bool rapid = false;
  bool exactStop = false;  // come to rest at its end (G61)
  double feedPerMinute = 0.0;
  double target[kHostAxisCount] = {};
};

struct JobAction {
  enum class Kind { kMove, kDwell, kReference, kReturnToZero, kProbe, kSpindle, kUserCode, kPause };
  Kind kind = Kind::kMove;
  int line = 0;
  PathSegment move;                    // kMove; kProbe: the probe's target and feed
  double seconds = 0.0;                // kDwell
  int axisOrder[kHostAxisCount] = {};  // kReference: axes to reference, in this order
  int axisCount = 0;
  SpindleTurn spindle = SpindleTurn::kNone;  // kSpindle
  double speed = 0.0;                        // kSpindle: revolutions per minute
  int code = 0;                              // kUserCode: 101..227
  bool optional = false;                     // kPause: M1
};

class Interpreter {
 public:
  // referenced: where each axis stands after it was referenced on its switch (machine units),
  // until SetPosition says otherwise.
  Interpreter(const Job& job, double chordTolerance, const double referenced[kHostAxisCount]);

  // The next action; nothing at the end of the job or after an error (see error()).
  std::optional<JobAction> Next();
  const std::optional<JobError>& error() const { return error_; }

  // Where the machine stands now (machine units), after a referencing or a probe.
  void SetPosition(const double machine[kHostAxisCount]);
  const double* position() const { return position_; }

 private:
  void Expand(const Block& b);
  void Move(const Block& b, const double target[kHostAxisCount], bool rapid);
  void Arc(const Block& b, const double target[kHostAxisCount]);
  void Target(const Block& b, double target[kHostAxisCount]) const;

  const Job& job_;
  double tolerance_;
  double referenced_[kHostAxisCount];
  size_t next_ = 0;
  std::deque<JobAction> pending_;
  std::optional<JobError> error_;
  double position_[kHostAxisCount] = {};  // machine units
  double offset_[kHostAxisCount] = {};    // G92: machine = job + offset
  double speed_ = 0.0;                    // S, modal
};

}  // namespace torvexan::sim
