// Job files: the G-code the simulated host runs, read line by line into blocks whose modal
// values are settled. Lengths are millimetres and feeds millimetres per minute whatever
// G20/G21 said; rotary axes stay in degrees. Parameters, expressions and subprograms
// (O, M98 P L, M99) are worked out while reading, so the blocks come in the order they run.
// Where the machine stands is not known here (a homing or a probe decides it while the job
// runs): the interpreter turns blocks into moves, with the work offsets and tool lengths.
// Lines after a probe may read where it tripped (#2000 to #2002, #5061 to #5063): until the
// probe has run they read its target, and the lines read after the host knows read where it
// tripped.
//
// docs/gcode-dialect.md lists the words understood. Anything else stops the job before any
// motion, with its line and word; an M-code with no meaning here is only a warning.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sim/gcode/rotation.h"
#include "sim/gcode/scaling.h"
#include "state/host_records.h"

namespace torvexan::sim {

inline constexpr double kMmPerInch = 25.4;

enum class Plane { kXY, kZX, kYZ };  // G17, G18, G19

// A plane as host axes: first, second (counter-clockwise seen from the positive third axis)
// and the axis across it.
struct PlaneAxes {
  int first, second, across;
};

constexpr PlaneAxes AxesOf(Plane p) {
  switch (p) {
    case Plane::kZX:
      return {2, 0, 1};
    case Plane::kYZ:
      return {1, 2, 0};
    case Plane::kXY:
      break;
  }
  return {0, 1, 2};
}
enum class MotionMode { kNone, kRapid, kFeed, kArcCw, kArcCcw, kProbe, kCycle };
enum class NonModal {
  kNone,
  kDwell,          // G4
  kReference,      // G28.1
  kReturnToZero,   // G28; G30, whose point is machine zero too here
  kLocalOffset,    // G52: the G92 offset set to the values written
  kSetOffset,      // G92
  kClearOffset,    // G92.1
  kSuspendOffset,  // G92.2
  kRestoreOffset,  // G92.3
  kSetSystem,      // G10 L2
  kSetSystemHere,  // G10 L20
  kSetTool,        // G10 L1: the tool table's entry for tool P (R its radius, Z its length)
  kPocket,         // G12, G13: out by I along X, once round the start, back to it
};
enum class ProgramStop { kNone, kPause, kOptionalPause, kEnd };
enum class SpindleTurn { kNone, kClockwise, kCounterClockwise, kStop };  // M3, M4, M5
enum class PathMode { kBlend, kExactStop, kExactPath };                  // G64, G61, G61.1
enum class ToolLength { kKeep, kPlus, kMinus, kCancel };                 // G43, G44, G49
enum class CutterComp { kOff, kLeft, kRight };                           // G40, G41, G42
// G94: F in mm per minute; G93: each feed move takes 1/F minutes; G95: F in mm per revolution.
enum class FeedMode { kPerMinute, kInverseTime, kPerRevolution };

// Coolant words of a line (M7 mist, M8 flood, M9 both off).
struct CoolantWords {
  bool mist = false;
  bool flood = false;
  bool off = false;
};

// A canned cycle's words in force (G73, G81 to G89), as written (absolute or incremental).
struct CycleWords {
  int code = 0;             // 73, 81 .. 89
  bool retractToR = true;   // G99 (as LinuxCNC starts); G98 returns to the height before it
  double r = 0.0;           // retract plane along the plane's third axis
  double q = 0.0;           // peck depth (G73, G83)
  double dwell = 0.0;       // P, seconds
  int repeats = 1;          // L
  bool rGiven = false;      // R written on this line; else the R plane of the last cycle
  bool depthGiven = false;  // the depth written on this line; else the last cycle's
  // G87: I, J, K by the axis they lie along (X, Y, Z). The two in the plane move the tool off
  // the hole's centre; the one along the drilling axis is the height the tool bores back up to.
  double backBore[3] = {};
};

struct Block {
  int line = 0;  // 1-based line in the job file
  // Modal values in force for this block.
  Plane plane = Plane::kXY;
  bool inches = false;  // G20: the lengths below are converted, but rounding follows the inch
  bool incremental = false;
  bool arcCentreAbsolute = false;  // G90.1; G91.1 (the default) measures I J K from the start
  bool exactStop = false;          // G61 or G61.1; G64 blends corners
  double blendTolerance = 0.0;     // G64 P, mm; 0 for none
  double feedPerMinute = 0.0;      // 0: none given yet; see feedMode
  FeedMode feedMode = FeedMode::kPerMinute;  // kInverseTime: feedPerMinute is F, moves a minute
                                             // kPerRevolution: mm per revolution
  MotionMode motion = MotionMode::kNone;
  CycleWords cycle;          // when motion is kCycle
  int coordinateSystem = 1;  // G54 .. G59 as 1 .. 6
  CutterComp cutterComp = CutterComp::kOff;
  double compRadius = 0.0;  // mm, from D and the tool table
  // G51 and G68; the axis and centre words below are as written, unscaled and unturned.
  Scaling scaling;
  Rotation rotation;
  bool polar = false;  // G16: X is a radius and Y an angle (degrees) about the program's origin
  // What this block does, in the order the interpreter carries it out.
  bool hasSpeed = false;
  double speed = 0.0;       // S, revolutions per minute
  int tool = 0;             // the tool in the spindle (the last M6's T)
  int selectTool = -1;      // T, -1 for none
  bool changeTool = false;  // M6
  SpindleTurn spindle = SpindleTurn::kNone;
  CoolantWords coolant;
  int userCode = 0;       // 101..227, 0 for none
  int unknownMCode = -1;  // an M-code with no meaning here (a warning), -1 for none
  ToolLength toolLength = ToolLength::kKeep;
  int lengthTool = -1;  // H; -1: the tool in the spindle
  int probeLog = 0;     // 40 opens the probe log, 41 closes it
  NonModal nonModal = NonModal::kNone;
  double dwellSeconds = 0.0;
  int offsetSystem = 0;             // G10: the coordinate system P (1 .. 6; 0 the one in force)
  int tableTool = 0;                // G10 L1: the tool P
  bool pocketClockwise = false;     // G12; G13 goes counter-clockwise
  bool machineCoordinates = false;  // G53: this line's axis words are machine positions
  bool moves = false;               // the motion mode runs on this block's axis words
  bool hasAxis[kHostAxisCount] = {};
  double axis[kHostAxisCount] = {};  // mm or degrees, as written (absolute or incremental)
  bool hasCentre[3] = {};            // I, J, K
  double centre[3] = {};             // mm, from the arc's start point or absolute (G90.1)
  bool hasRadius = false;
  double radius = 0.0;  // mm; negative asks for the arc longer than a half circle
  ProgramStop stop = ProgramStop::kNone;
};

struct JobError {
  int line;
  std::string message;
};

// A line that runs, with something the report should tell.
struct JobWarning {
  int line;
  std::string message;
};

struct ToolEntry {
  int number = 0;
  int pocket = 0;
  double diameter = 0.0;  // mm
  double length = 0.0;    // mm
};

// Where a probe tripped: X, Y and Z in the coordinate system in force at the probe (mm).
struct ProbeTrip {
  double at[3] = {};
};
// The probes that have run, by the index of their block (the count of blocks read before it).
using ProbeTrips = std::map<size_t, ProbeTrip>;

// What the blocks of a job come to, gathered in the one read before the run, so that the
// report needs none of them kept.
struct JobTally {
  int toolChanges = 0;             // M6 blocks, each time one runs
  std::set<int> toolsChanged;      // the tools they took
  bool probeLog = false;           // an M40 opens the probe log
  bool spindleOrUserCode = false;  // the job turns the spindle or calls a user code
  // G43 or G44 whose H names a tool other than the one in the spindle: the last M6's, or
  // before any M6 the last one T selected.
  std::vector<JobWarning> toolLength;
};

// A job as read once before the run: what it asks that cannot run, its warnings and what its
// blocks come to. The blocks themselves are read again from the text as they run
// (BlockReader, AllBlocks).
struct Job {
  std::vector<JobError> errors;  // every bad line, in file order
  std::vector<JobWarning> warnings;
  bool ended = false;            // an M2 or M30 ends it; otherwise it runs to the file's end
  bool inches = false;           // moves were written in inches (G20)
  std::vector<ToolEntry> tools;  // the tool table; empty: every tool has length and diameter 0
  std::string source;            // the text it was read from, to read again
  std::string init;       // the machine's initialization string, read for its modes before line 1
  ProbeTrips trips;       // where the probes tripped that it was read with
  size_t blockCount = 0;  // the blocks it runs, subprograms' repeats included
  // The last block whose line read a probe result: a probe after it changes nothing that
  // follows. -1 for none.
  long lastProbeResultReader = -1;
  JobTally tally;
};

// The modal state a job starts in when the machine gives none: Mach3's initialization string.
// G99 retracts canned cycles to R, as LinuxCNC does when a program writes neither G98 nor G99.
inline constexpr std::string_view kDefaultInit = "G17 G21 G40 G49 G54 G64 G80 G90 G91.1 G94 G99";

// tools: the tool table, which cutter compensation needs while reading (D words). trips: where
// the probes that have run tripped; a probe not in it reads as its target (the axes written).
// init: the machine's initialization string, whose modes are in force from line 1 on (a bad
// one is an error of line 0). Modes it leaves out are those of kDefaultInit. Reads the whole
// text once; what it keeps is the text and what the blocks come to, not the blocks.
Job ParseJob(std::string_view text, const std::vector<ToolEntry>& tools = {},
             const ProbeTrips& trips = {}, std::string_view init = kDefaultInit);

// ParseJob of a text the job keeps as it is, without a copy: a long file's.
Job ParseJobText(std::string text, const std::vector<ToolEntry>& tools = {},
                 std::string_view init = kDefaultInit);

// Every block of job in the order they run, read again from its text: for a short job looked
// at whole (about 400 bytes a block).
std::vector<Block> AllBlocks(const Job& job);

// Reads and parses a file; false (reason in *error) when it cannot be read.
bool LoadJobFile(const std::string& path, Job* job, std::string* error,
                 const std::vector<ToolEntry>& tools = {}, std::string_view init = kDefaultInit);

// "demo.nc:12: 'Q5': unknown word"
std::string FormatJobError(const std::string& fileName, const JobError& error);

}  // namespace torvexan::sim
