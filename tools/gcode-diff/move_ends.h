// Where every move of a G-code program ends, in machine coordinates (mm, degrees): once as
// our reader and interpreter see it, once as LinuxCNC's standalone interpreter rs274 prints
// it in its canonical calls, with what the spindle was doing during the move. Moves of length 0
// are left out on both sides.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "sim/gcode/gcode.h"

namespace torvexan::gcodediff {

using Position = std::array<double, 6>;

// An arc as rs274 announces it: in the plane of axes first and second, around a centre (machine
// coordinates), turning counter-clockwise (from first towards second) for turns > 0, clockwise
// for turns < 0; |turns| - 1 whole circles come before the last part up to the end.
struct ArcPath {
  int first = 0, second = 1;
  double centre[2] = {};
  int turns = 1;
};

struct MoveEnd {
  int line = 0;        // 0 where the source does not say
  Position from = {};  // where the move starts
  Position at = {};
  bool inches = false;        // rs274 printed it in inches, to 0.0001 in
  double printSlackMm = 0.0;  // rs274: how far its print rounding may put the end (mm)
  sim::SpindleTurn spindle = sim::SpindleTurn::kStop;  // kClockwise, kCounterClockwise or kStop
  double rpm = 0.0;                                    // while it turns
  std::optional<ArcPath> arc;                          // rs274: the move is an arc
  std::vector<Position> via;  // ours: where the slices of an arc end before its last
};

struct Outcome {
  bool ok = false;
  std::string error;  // why the program was refused
  std::vector<MoveEnd> ends;
};

// Our reader and interpreter, the machine starting at 0, in the modal state init sets.
Outcome OurMoveEnds(const std::string& text, const std::vector<sim::ToolEntry>& tools,
                    std::string_view init = sim::kDefaultInit);

// rs274's canonical output turned into machine positions: each move's end in the program's
// coordinates plus the work offsets, G92 and the tool length it announced.
Outcome ParseCanon(const std::string& output);

// The program as rs274 gets it: init as its first line (after an opening '%'), for rs274
// has no initialization string of its own.
std::string WithInit(const std::string& text, std::string_view init);

// rs274's tool table (inches) from the text of ours as the user wrote it (millimetres, lines
// "T<n> P<pocket> D<diameter> Z<length> ;comment"), converted word by word without our
// tool-table reader: a fault in that reader then shows as a disagreement instead of reaching
// both sides alike.
std::string Rs274ToolTable(const std::string& toolTableMm);

// Runs rs274 (the command, e.g. scripts/rs274) on text with toolTableMm converted by
// Rs274ToolTable; its output goes through ParseCanon.
Outcome Rs274MoveEnds(const std::string& command, const std::string& text,
                      const std::string& toolTableMm, const std::string& workDir);

// Where our vertices of an arc (from, via, at) leave rs274's arc path, in words; empty when
// every vertex lies on its circle within toleranceMm, the off-plane axes advance in step
// with the angle, the angle turns its way all through and the whole sweep matches.
std::string CompareArc(const MoveEnd& ours, const MoveEnd& theirs, double toleranceMm);

// Where two outcomes differ by more than toleranceMm, or in what the spindle does during a
// move, in words; empty when they agree.
std::string Compare(const Outcome& ours, const Outcome& theirs, double toleranceMm);

// Both lists of move ends side by side, for a reader looking for where they part.
std::string Listing(const Outcome& ours, const Outcome& theirs);

}  // namespace torvexan::gcodediff
