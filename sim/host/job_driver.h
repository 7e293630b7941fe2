// What the host does while a job runs: interprets the job block by block, keeps the move
// queue filled with each run of moves, lets it run empty (QueueDrain) before anything else,
// and hands the rest to the plug-in's entry points: dwells (DoDwell), referencing (Home, one
// axis at a time), probing (Probe), spindle and user codes (Notify). It notices when the
// plug-in stops making progress.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/gcode/gcode.h"
#include "sim/host/safety_log.h"
#include "sim/host/stop_window.h"
#include "sim/host/travel_check.h"
#include "sim/host/virtual_host.h"

namespace torvexan::sim {

struct DriverTiming {
  uint32_t startupMs = 1000;     // Update and ticks only, so the link can find the card
  uint32_t resetEveryMs = 250;   // the operator presses reset at most this often while starting
  uint32_t readyMs = 500;        // emergency stop must stay clear this long after a reset
  uint32_t settleMs = 300;       // MotionIdle must hold this long with the queue empty
  uint32_t stallMs = 10000;      // no sign of progress for this long ends the job
  uint32_t sequenceMs = 120000;  // a referencing or probing move may take this long
  uint32_t stopWatchMs = 1000;   // after a stop the host watches the machine come to rest
};

// How the host interprets the job: arc slicing and where a referenced axis is expected.
struct JobSetup {
  double chordTolerance = kDefaultChordToleranceMm;
  double referenced[kHostAxisCount] = {};  // machine units after referencing (the pull-off)
  // What the operator does after an emergency stop or an aborted sequence: nothing (the job
  // ends stopped), or reset, reference the axes again and go on from the line that stopped.
  bool resetAfterStop = false;
  // The operator presses RESET this many seconds after motion began, once; negative: never.
  double resetAtSeconds = -1.0;
  TravelLimits travel;
  WorkOffsets offsets;  // the coordinate systems and G92 offset the machine starts with
};

// What a check of the whole job finds before any motion: its errors, and what it plans on
// the assumption that referencing ends at JobSetup::referenced and probes reach their targets.
struct JobCheck {
  std::vector<JobError> errors;
  int moves = 0;
  int dwells = 0;
  int references = 0;
  int probes = 0;
  int64_t slices = 0;
  double seconds = 0.0;  // motion and dwells
  WorkOffsets offsets;   // in force at the end
  int tool = 0;          // in the spindle at the end
  AxisExtent extents[kHostAxisCount];
  // Moves beyond the travel when it only warns (they are errors otherwise).
  std::vector<JobWarning> travelWarnings;
};

// What the check passes on as it goes, so that a long job's moves need not be kept: every
// move, and every other action with where the machine stands (machine units) when it comes.
class CheckObserver {
 public:
  virtual ~CheckObserver() = default;
  virtual void Move(const PathSegment&) {}
  virtual void Action(const JobAction&, const double* /*position*/) {}
};

JobCheck CheckJob(const Job& job, const HostControl& limits, const JobSetup& setup,
                  CheckObserver* observer = nullptr);
// The same check of what is left to interpret from where interpreter stands.
JobCheck CheckRest(Interpreter interpreter, const HostControl& limits,
                   const TravelLimits& travel = {}, CheckObserver* observer = nullptr);

struct ReferenceResult {
  int line = 0;
  int axis = 0;
  bool done = false;      // the plug-in ran the sequence (false: it refused the axis)
  bool aborted = false;   // it began but ended without the axis homed (AxisHomed stayed 0)
  int32_t endCounts = 0;  // where the axis stands after the pull-off, steps
};

struct ProbeResult {
  int line = 0;
  bool logged = false;   // taken while the probe log was open (M40 .. M41)
  bool contact = false;  // the probe input was active when the move ended
  bool aborted = false;  // the sequence ended without a probe position (ProbeFlag stayed set)
  double target[kHostAxisCount] = {};        // machine units
  int32_t probeCounts[kHostAxisCount] = {};  // what the plug-in reports as the probe position
  int32_t stoppedAt[kHostAxisCount] = {};    // where the machine came to rest
};

// A spindle, user-code or stop event as the host carried it out.
struct HostEvent {
  int line = 0;
  int userCode = 0;      // the M-code 101..227 notified, 0 for other events
  double seconds = 0.0;  // since motion began
  std::string text;
};

// What the job has switched on that a resume after a stop switches on again before the first
// move, as the host's run-from-here does.
struct JobModes {
  SpindleTurn spindle = SpindleTurn::kStop;
  double speed = 0.0;  // revolutions per minute
  bool flood = false;
  bool mist = false;
};

// A stop of the job by an emergency stop or an aborted sequence, and where the machine stood
// once it had come to rest, against what the host had commanded up to the stop.
struct StopRecord {
  enum class Path {
    kOnPath,      // on the commanded path, at or before the last queue entry the plug-in took
    kOffPath,     // nowhere on what the host had commanded
    kInSequence,  // stopped in a dwell, referencing or probing: no queue path to compare
    kNotKnown,    // the card lost its count (it restarted): where it stands is not known
  };
  int line = 0;
  double seconds = 0.0;  // since the host started the plug-in
  std::string cause;
  std::string during;               // what the job was doing
  int32_t at[kHostAxisCount] = {};  // where the machine stood after the watch, steps
  Path path = Path::kInSequence;
  // The card's count jumped further than the axes can move (it restarted): its position is
  // not known until it is referenced again. lastKnown: what it reported before the jump.
  bool positionLost = false;
  int32_t lastKnown[kHostAxisCount] = {};
  int cardLine = 0;  // the line of the card's last reported move tag, 0 for none
  // Whether the position was read once the link was back (the operator's reset): a card that
  // fell silent runs on through its buffer, and only then says where it stopped.
  bool judgedAfterReset = false;
  StopWindow window;                      // the stretch of the run the card can stand on
  double commanded[kHostAxisCount] = {};  // the commanded position it matches, or the last taken
  int64_t slicesTaken = 0;                // of the run, when the job stopped
  int64_t sliceMatched = -1;              // the slice of the run the machine stands at
  int entriesAfterStop = 0;               // queue entries the host wrote after the stop
  bool resumed = false;                   // the operator reset and the job went on
  JobModes modes;                         // what the job had on when it stopped
  int tool = 0;                           // in the spindle at the stop
  bool byOperator = false;                // the operator's RESET, not a fault
  std::string notResumed;                 // why the job could not go on after the reset
};

struct DriverStats {
  int64_t rowsTaken = 0;  // queue entries the plug-in took (MoveQueueRead advances)
  int64_t slicesPlanned = 0;
  int dwellsDone = 0;
  uint64_t motionStartMs = 0;
  uint64_t doneMs = 0;
};

class JobDriver final : private SegmentSource {
 public:
  enum class Phase {
    kStarting,
    kStreaming,
    kDraining,
    kDwelling,
    kReferencing,
    kProbing,
    kStopping,    // a stop: the host watches the machine come to rest
    kRecovering,  // the operator resets and references again (resetAfterStop)
    kEnding,      // the job is through: the last outputs reach the card
    kDone,
    kStalled,
    kFailed,
    kStopped  // ended by an emergency stop or an aborted sequence
  };

  JobDriver(const Job& job, const JobSetup& setup, VirtualHost& host, DriverTiming timing);

  // One pass of the host's job loop at nowMs (any monotonic millisecond clock).
  Phase Step(uint64_t nowMs);

  Phase phase() const { return phase_; }
  bool finished() const {
    return phase_ == Phase::kDone || phase_ == Phase::kStalled || phase_ == Phase::kFailed ||
           phase_ == Phase::kStopped;
  }
  const DriverStats& stats() const { return stats_; }
  const std::string& stallReason() const { return stallReason_; }
  // Where the host expects each axis to stand (steps): the end of the last run, or where a
  // referencing or probe left it.
  int64_t Expected(int a) const { return expected_[a]; }
  int currentLine() const { return line_; }
  const std::vector<ReferenceResult>& references() const { return references_; }
  const std::vector<ProbeResult>& probes() const { return probes_; }
  const std::vector<HostEvent>& events() const { return events_; }
  const std::vector<StopRecord>& stops() const { return stops_; }
  const SafetyLog& safety() const { return safety_; }
  // When a probe's trip point changed what followed: how many moves of the check's path ran
  // before that, and how many ran since (0 when nothing changed). Those since go to observer
  // as they are planned, when one is given.
  size_t movesBeforeReread() const { return movesBeforeReread_; }
  size_t movesSinceReread() const { return movesSinceReread_; }
  void StreamMovesSinceReread(CheckObserver* observer) { sinceReread_ = observer; }
  // The offsets in force and the tool in the spindle as far as the job has run.
  const WorkOffsets& offsets() const { return interpreter_.offsets(); }
  int tool() const { return interpreter_.tool(); }
  // When the driver first ran, on its clock: the zero of the safety timeline.
  uint64_t startMs() const { return startMs_; }
  // A status text the plug-in sent at nowMs on the driver's clock: it goes on the timeline.
  void NoteStatusText(uint64_t nowMs, const char* text);
  // What struck the card at nowMs on the driver's clock, for the timeline; countsLost: the
  // card restarted and counts from zero again.
  void NoteCardEvent(uint64_t nowMs, const char* text, bool countsLost = false);

 private:
  void Observe(uint64_t nowMs);
  bool QueueSettled(uint64_t nowMs) const;
  void CheckStall(uint64_t nowMs);
  bool MachineReady(uint64_t nowMs);
  void StartNext(uint64_t nowMs);
  bool RunHostAction(const JobAction& a, uint64_t nowMs);
  void StartProbe(const JobAction& a, uint64_t nowMs);
  void NotifySpindle(const JobAction& a, uint64_t nowMs);
  void StartReference(uint64_t nowMs);
  void FinishReference(uint64_t nowMs);
  void FinishProbe(uint64_t nowMs);
  bool ReadOnAfterProbe(uint64_t nowMs, const ProbeResult& r);
  void SyncFromCard();
  void StartRun(uint64_t nowMs);
  bool Next(PathSegment* segment) override;
  void Fail(uint64_t nowMs, std::string reason);
  // The emergency stop and the aborted sequences: the host stops the job at once.
  bool CheckSafety(uint64_t nowMs);
  bool PressReset(uint64_t nowMs);
  bool Running() const;
  void StopJob(uint64_t nowMs, std::string cause);
  void NoteAbortedSequence();
  void WatchStop(uint64_t nowMs);
  void JudgeStop(StopRecord* r);
  void Recover(uint64_t nowMs);
  void WatchCounts(uint64_t nowMs);
  bool CanGoOn(StopRecord* r);
  bool RestoreModes(uint64_t nowMs);
  void EndProgram(uint64_t nowMs);
  std::vector<PathSegment> Approach(uint64_t nowMs);
  void NoteCoolant(const JobAction& a);
  int StopLine() const;
  double Seconds(uint64_t nowMs) const;
  void Log(uint64_t nowMs, int line, std::string text);

  // The last block that reads a probe result, as the job reads with the trip points so far.
  long lastProbeResultReader_;
  bool reread_ = false;  // a probe's trip point changed what the lines after it read
  ProbeTrips trips_;     // of the probes run, which the interpreter's reading points to
  size_t movesBeforeReread_ = 0;
  size_t movesSinceReread_ = 0;
  CheckObserver* sinceReread_ = nullptr;
  VirtualHost& host_;
  DriverTiming timing_;
  bool resetAfterStop_;
  double resetAtSeconds_;
  TravelLimits travel_;
  bool resetPressed_ = false;
  Interpreter interpreter_;
  Planner planner_;
  Phase phase_ = Phase::kStarting;
  DriverStats stats_;
  std::string stallReason_;
  std::optional<JobAction> pending_;  // a host action waiting for the queue to run empty
  JobAction sequence_;                // the referencing or probe under way
  int referenceIndex_ = 0;
  int32_t countsBefore_[kHostAxisCount] = {};
  int64_t expected_[kHostAxisCount] = {};
  int line_ = 0;
  // The run being planned takes these first (the way back after a stop and what the stop cut
  // short), then, while fromInterpreter_, the interpreter's moves up to its next action.
  std::vector<PathSegment> lead_;
  size_t leadNext_ = 0;
  bool fromInterpreter_ = true;
  std::vector<ReferenceResult> references_;
  std::vector<ProbeResult> probes_;
  std::vector<HostEvent> events_;
  std::vector<StopRecord> stops_;
  SafetyLog safety_;
  std::vector<PathSegment> resume_;         // what the planner held of a run cut by a stop
  bool resumeOpen_ = false;                 // the interpreter had more of that run to give
  double resumeFrom_[kHostAxisCount] = {};  // where the interpreter stood then, machine units
  double resumeAt_[kHostAxisCount] = {};    // where on the path it goes on, steps
  int32_t writeAtStop_ = 0;                 // MoveQueueWrite when the host stopped
  JobModes modes_;                          // spindle and coolant as the job set them
  size_t restoredFor_ = 0;                  // the number of stops the modes were restored after
  // The card's counts jumped (a restart) since the last stop was dealt with.
  bool countsJumped_ = false;
  int32_t countsBeforeJump_[kHostAxisCount] = {};
  uint64_t lastObserveMs_ = 0;

  bool observed_ = false;
  bool sequenceEnded_ = false;  // the plug-in raised SequenceEnded since the sequence began
  uint64_t startMs_ = 0;
  int32_t lastRead_ = 0;
  HostBool lastIdle_ = 1;
  int32_t lastCounts_[kHostAxisCount] = {};
  uint64_t lastReadChangeMs_ = 0;
  uint64_t lastBusyMs_ = 0;
  uint64_t lastProgressMs_ = 0;
  uint64_t phaseStartMs_ = 0;
  uint64_t lastResetMs_ = 0;
  bool resetDone_ = false;
  bool resetUnanswered_ = false;  // the plug-in said its card is not connected
  double dwellSeconds_ = 0.0;
  bool probeLogOpen_ = false;
};

const char* PhaseName(JobDriver::Phase phase);

}  // namespace torvexan::sim
