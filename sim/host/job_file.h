// Job files: the G-code the simulated host runs, read line by line into blocks whose modal
// values are settled. Lengths are millimetres and feeds millimetres per minute whatever
// G20/G21 said; rotary axes stay in degrees. Where the machine stands is not known here (a
// homing or a probe decides it while the job runs): the interpreter turns blocks into moves.
//
// Understood: comments, N words, G0 G1 G2 G3 (I J K centre offsets or R radius, negative R
// for the long arc; a third axis along the arc makes a helix), G4 P seconds, G17 G18 G19,
// G20 G21, G28 (return to machine zero, through the axis words' point), G28.1 (reference
// the named axes on their home switches), G38.2 (probe towards the axis words), G40 G49 G80
// G54 (no-ops), G61 G64, G90 G91, G92, G94, F, S, M0 M1 M2 M3 M4 M5 M30 and M101 to M227.
// Anything else stops the job before any motion, with its line and word.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "state/host_records.h"

namespace torvexan::sim {

enum class Plane { kXY, kZX, kYZ };  // G17, G18, G19
enum class MotionMode { kNone, kRapid, kFeed, kArcCw, kArcCcw, kProbe };
enum class NonModal { kNone, kDwell, kReference, kReturnToZero, kSetOffset };
enum class ProgramStop { kNone, kPause, kOptionalPause, kEnd };
enum class SpindleTurn { kNone, kClockwise, kCounterClockwise, kStop };  // M3, M4, M5

struct Block {
  int line = 0;  // 1-based line in the job file
  // Modal values in force for this block.
  Plane plane = Plane::kXY;
  bool incremental = false;
  bool exactStop = false;      // G61; G64 blends corners
  double feedPerMinute = 0.0;  // 0: none given yet
  MotionMode motion = MotionMode::kNone;
  // What this block does, in the order the interpreter carries it out.
  SpindleTurn spindle = SpindleTurn::kNone;
  bool hasSpeed = false;
  double speed = 0.0;  // S, revolutions per minute
  int userCode = 0;    // 101..227, 0 for none
  NonModal nonModal = NonModal::kNone;
  double dwellSeconds = 0.0;
  bool moves = false;  // the motion mode runs on this block's axis words
  bool hasAxis[kHostAxisCount] = {};
  double axis[kHostAxisCount] = {};  // mm or degrees, as written (absolute or incremental)
  bool hasCentre[3] = {};            // I, J, K
  double centre[3] = {};             // mm, from the arc's start point
  bool hasRadius = false;
  double radius = 0.0;  // mm; negative asks for the arc longer than a half circle
  ProgramStop stop = ProgramStop::kNone;
};

struct JobError {
  int line;
  std::string message;
};

struct Job {
  std::vector<Block> blocks;
  std::vector<JobError> errors;  // every bad line, in file order
};

Job ParseJob(std::string_view text);

// Reads and parses a file; false (reason in *error) when it cannot be read.
bool LoadJobFile(const std::string& path, Job* job, std::string* error);

// "demo.nc:12: 'Q5': unknown word"
std::string FormatJobError(const std::string& fileName, const JobError& error);

}  // namespace torvexan::sim
