// One line of G-code read into a block: its words sorted into modal groups (two of one group
// contradict each other), the modal values of the lines before it applied, and the words
// checked as a whole. A bad line leaves the modal values as they were.
#pragma once

#include <string>
#include <vector>

#include "sim/gcode/gcode_words.h"
#include "sim/gcode/job_file.h"

namespace torvexan::sim {

// Modal values that carry over from line to line.
struct ModalState {
  Plane plane = Plane::kXY;
  bool inches = false;
  bool incremental = false;
  bool arcCentreAbsolute = false;
  PathMode path = PathMode::kBlend;
  double blendTolerance = 0.0;  // mm
  double feedPerMinute = 0.0;   // mm per minute (per revolution in G95, 1/min in G93)
  FeedMode feedMode = FeedMode::kPerMinute;
  MotionMode motion = MotionMode::kNone;
  CycleWords cycle;
  bool hasCycleDepth = false;
  double cycleDepth = 0.0;  // the cycle's depth along the third axis, as written (mm)
  bool hasCycleR = false;
  int coordinateSystem = 1;
  CutterComp cutterComp = CutterComp::kOff;
  double compRadius = 0.0;
  int tool = 0;  // the tool in the spindle (M6 took it)
  int selectedTool = 0;
};

// What a line asks of the program's flow.
struct LineFlow {
  int label = -1;    // O: this line starts subprogram label
  int call = -1;     // M98 P: call subprogram
  int repeats = 1;   // M98 L
  bool ret = false;  // M99
};

// Reads the words of line number into *block; false with the reason in *error. *modal
// changes only when the whole line is good.
bool ReadLine(int number, const std::vector<Word>& words, const std::vector<ToolEntry>& tools,
              ModalState* modal, Block* block, LineFlow* flow, std::string* error);

}  // namespace torvexan::sim
