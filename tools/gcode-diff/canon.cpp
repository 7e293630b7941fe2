#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tools/gcode-diff/move_ends.h"

namespace torvexan::gcodediff {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr int kAxes = 6;
// Two ends closer than this are one point: a move of length 0 that one side drops. rs274
// prints each of a position's four terms (move, work offset, G92, tool length) to 0.0001 mm,
// so after an offset changes one point may print up to twice 4 x 0.00005 mm apart.
constexpr double kSamePointMm = 2 * 4 * 0.00005;
constexpr double kInchPrintSlackMm = 4 * 0.00005 * kMmPerInch;
// Half the last printed digit of one term: 0.0001 of a millimetre or of an inch.
constexpr double kHalfDigitMm = 0.00005;
constexpr double kHalfDigitInchMm = 0.00005 * kMmPerInch;

std::vector<double> Numbers(const std::string& args) {
  std::vector<double> values;
  std::string token;
  std::istringstream in(args);
  for (std::string part; std::getline(in, part, ',');) {
    std::istringstream words(part);
    for (std::string w; words >> w;) {
      char* end = nullptr;
      const double v = std::strtod(w.c_str(), &end);
      if (end != w.c_str()) values.push_back(v);
    }
  }
  return values;
}

// Where rs274's canonical calls leave the machine.
class CanonState {
 public:
  void Call(const std::string& name, const std::string& args, Outcome* out) {
    const std::vector<double> v = Numbers(args);
    if (name == "USE_LENGTH_UNITS")
      scale_ = args.find("INCHES") != std::string::npos ? kMmPerInch : 1.0;
    if (name == "SELECT_PLANE")
      plane_ = args.find("XZ") != std::string::npos   ? 1
               : args.find("YZ") != std::string::npos ? 2
                                                      : 0;
    if (name == "SET_G5X_OFFSET" && v.size() >= 1 + kAxes) {
      Copy(&v[1], g5x_);
      termSlack_[0] = HalfDigit();
    }
    if (name == "SET_G92_OFFSET" && v.size() >= kAxes) {
      Copy(&v[0], g92_);
      termSlack_[1] = HalfDigit();
    }
    if (name == "USE_TOOL_LENGTH_OFFSET" && v.size() >= 3) {
      for (int a = 0; a < 3; ++a) tool_[a] = v[a] * scale_;
      termSlack_[2] = HalfDigit();
    }
    if ((name == "STRAIGHT_TRAVERSE" || name == "STRAIGHT_FEED" || name == "STRAIGHT_PROBE") &&
        v.size() >= kAxes) {
      Copy(&v[0], at_);
      End(out);
    }
    if (name == "START_SPINDLE_CLOCKWISE") spindle_ = sim::SpindleTurn::kClockwise;
    if (name == "START_SPINDLE_COUNTERCLOCKWISE") spindle_ = sim::SpindleTurn::kCounterClockwise;
    if (name == "STOP_SPINDLE_TURNING") spindle_ = sim::SpindleTurn::kStop;
    if (name == "SET_SPINDLE_SPEED" && !v.empty()) rpm_ = v.back();  // (spindle, speed)
    if (name == "ARC_FEED" && v.size() >= 9) {
      // First end, second end, first and second of the centre, turns (signed), the across
      // axis's end, then A B C. In XZ the first axis is Z, in YZ it is Y.
      static constexpr int kFirst[] = {0, 2, 1}, kSecond[] = {1, 0, 2}, kAcross[] = {2, 1, 0};
      ArcPath arc;
      arc.first = kFirst[plane_];
      arc.second = kSecond[plane_];
      arc.centre[0] = v[2] * scale_ + Offset(arc.first);
      arc.centre[1] = v[3] * scale_ + Offset(arc.second);
      arc.turns = static_cast<int>(std::lround(v[4]));
      at_[arc.first] = v[0] * scale_;
      at_[arc.second] = v[1] * scale_;
      at_[kAcross[plane_]] = v[5] * scale_;
      for (int a = 3; a < kAxes; ++a) at_[a] = v[3 + a];
      End(out, arc);
    }
  }

 private:
  void Copy(const double* from, double* to) const {
    for (int a = 0; a < kAxes; ++a) to[a] = from[a] * (a < 3 ? scale_ : 1.0);
  }
  double HalfDigit() const { return scale_ != 1.0 ? kHalfDigitInchMm : kHalfDigitMm; }
  // What a position in program coordinates adds on axis a to become a machine position.
  double Offset(int a) const { return g5x_[a] + g92_[a] + tool_[a]; }
  void End(Outcome* out, std::optional<ArcPath> arc = std::nullopt) {
    MoveEnd e;
    e.from = machine_;
    for (int a = 0; a < kAxes; ++a) e.at[a] = at_[a] + Offset(a);
    e.inches = scale_ != 1.0;
    // An offset keeps the rounding of the units it was printed in after the units change;
    // in inches every term counts as printed in inches.
    e.printSlackMm =
        e.inches ? kInchPrintSlackMm : kHalfDigitMm + termSlack_[0] + termSlack_[1] + termSlack_[2];
    e.spindle = spindle_;
    e.rpm = rpm_;
    e.arc = arc;
    machine_ = e.at;
    out->ends.push_back(e);
  }

  double scale_ = 1.0;
  int plane_ = 0;
  double at_[kAxes] = {};
  double g5x_[kAxes] = {};
  double g92_[kAxes] = {};
  double tool_[kAxes] = {};
  double termSlack_[3] = {kHalfDigitMm, kHalfDigitMm, kHalfDigitMm};  // G5x, G92, tool length
  sim::SpindleTurn spindle_ = sim::SpindleTurn::kStop;
  double rpm_ = 0.0;
  Position machine_ = {};  // where the last move ended
};

double Travel(const MoveEnd& e) {
  double d = 0.0;
  for (int a = 0; a < kAxes; ++a) d = std::fmax(d, std::fabs(e.at[a] - e.from[a]));
  return d;
}

double SamePoint(const MoveEnd& e, bool inches) {
  return inches || e.inches ? kInchPrintSlackMm : kSamePointMm;
}

// The move ends left when moves of length 0 are dropped; in a program in inches (as rs274
// printed it) that is any move within the rounding of its print. An arc that ends where it
// starts is a full circle, not a move of length 0.
std::vector<MoveEnd> Distinct(const std::vector<MoveEnd>& ends, bool inches) {
  std::vector<MoveEnd> out;
  for (const MoveEnd& e : ends) {
    const bool arc = e.arc.has_value() || !e.via.empty();
    if (arc || Travel(e) > SamePoint(e, inches)) out.push_back(e);
  }
  return out;
}

// A straight move so short that rs274's rounding may print it as no move (its two ends each
// up to a SamePoint off) or as one: one side may have dropped it and the other not.
bool Faint(const MoveEnd& e, bool inches) {
  return !e.arc && e.via.empty() && Travel(e) <= 2 * SamePoint(e, inches);
}

bool InInches(const Outcome& theirs) {
  return std::any_of(theirs.ends.begin(), theirs.ends.end(),
                     [](const MoveEnd& e) { return e.inches; });
}

std::string Point(const MoveEnd& e) {
  char text[200];
  std::snprintf(text, sizeof text, "(%.4f %.4f %.4f %.4f %.4f %.4f)", e.at[0], e.at[1], e.at[2],
                e.at[3], e.at[4], e.at[5]);
  return text;
}

// rs274's arc in a listing.
std::string ArcNote(const MoveEnd& e) {
  if (!e.arc) return "";
  char text[120];
  std::snprintf(text, sizeof text, " arc around (%.4f %.4f), turns %d", e.arc->centre[0],
                e.arc->centre[1], e.arc->turns);
  return text;
}

// How our move and rs274's part: where they end, and for an arc the path on the way.
std::string MoveDiffers(const MoveEnd& ours, const MoveEnd& theirs, double toleranceMm) {
  for (int k = 0; k < kAxes; ++k) {
    if (std::fabs(ours.at[k] - theirs.at[k]) > toleranceMm) {
      std::string text = "we end at ";
      return text.append(Point(ours)).append(", rs274 at ").append(Point(theirs));
    }
  }
  if (theirs.arc) return CompareArc(ours, theirs, toleranceMm);
  if (!ours.via.empty()) return "we cut an arc, rs274 a straight move";
  return "";
}

const char* SpindleName(sim::SpindleTurn t) {
  return t == sim::SpindleTurn::kClockwise          ? "clockwise"
         : t == sim::SpindleTurn::kCounterClockwise ? "counterclockwise"
                                                    : "stopped";
}

// What the spindle does during the move, when the two sides differ: which way it turns and,
// while it turns, how fast.
std::string SpindleDiffers(const MoveEnd& ours, const MoveEnd& theirs) {
  const bool turns = ours.spindle != sim::SpindleTurn::kStop;
  if (ours.spindle == theirs.spindle && (!turns || ours.rpm == theirs.rpm)) return "";
  char text[160];
  std::snprintf(text, sizeof text, "the spindle is %s at %.0f rpm for us, %s at %.0f rpm for rs274",
                SpindleName(ours.spindle), ours.rpm, SpindleName(theirs.spindle), theirs.rpm);
  return text;
}

}  // namespace

Outcome ParseCanon(const std::string& output) {
  Outcome out;
  CanonState state;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    // "   7 N10    STRAIGHT_TRAVERSE(...)": the block number ("....." without one) fills six
    // places left-justified and a blank follows, so a six-digit one runs into the call's name
    // ("N123456STRAIGHT_TRAVERSE").
    const size_t n = line.find(" N");
    const size_t open = line.find('(');
    const size_t close = line.rfind(')');
    if (n == std::string::npos || open == std::string::npos || close == std::string::npos ||
        close < open)
      continue;
    const size_t numberEnd = line.find_first_not_of("0123456789.", n + 2);
    if (numberEnd == std::string::npos || numberEnd > open) continue;
    const size_t nameStart = line.find_first_not_of(' ', numberEnd);
    if (nameStart == std::string::npos || nameStart >= open) continue;
    state.Call(line.substr(nameStart, open - nameStart), line.substr(open + 1, close - open - 1),
               &out);
  }
  out.ok = true;
  return out;
}

std::string WithInit(const std::string& text, std::string_view init) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  size_t at = 0;
  if (first != std::string::npos && text[first] == '%') {
    const size_t eol = text.find('\n', first);
    at = eol == std::string::npos ? text.size() : eol + 1;
  }
  std::string out = text.substr(0, at);
  if (at > 0 && out.back() != '\n') out += '\n';
  return out.append(init).append("\n").append(text.substr(at));
}

std::string Rs274ToolTable(const std::string& toolTableMm) {
  std::string out;
  std::istringstream in(toolTableMm);
  for (std::string line; std::getline(in, line);) {
    // Comments after ';' and in parentheses carry nothing for rs274.
    line = line.substr(0, line.find(';'));
    for (size_t open; (open = line.find('(')) != std::string::npos;) {
      const size_t close = line.find(')', open);
      line.erase(open, close == std::string::npos ? std::string::npos : close - open + 1);
    }
    std::string entry;
    for (size_t i = 0; i < line.size();) {
      const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
      if (!std::isalpha(static_cast<unsigned char>(letter))) {
        ++i;
        continue;
      }
      char* end = nullptr;
      const double value = std::strtod(line.c_str() + i + 1, &end);
      i = static_cast<size_t>(end - line.c_str());
      char word[64];
      if (letter == 'D' || letter == 'Z') {
        std::snprintf(word, sizeof word, " %c%.9f", letter, value / kMmPerInch);
      } else {
        std::snprintf(word, sizeof word, " %c%.0f", letter, value);
      }
      entry += word;
    }
    if (!entry.empty()) out += entry.substr(1) + "\n";
  }
  return out;
}

Outcome Rs274MoveEnds(const std::string& command, const std::string& text,
                      const std::string& toolTableMm, const std::string& workDir) {
  const std::string program = workDir + "/program.ngc";
  const std::string table = workDir + "/tools.tbl";
  const std::string params = workDir + "/params.var";
  std::ofstream(program) << text;
  std::ofstream(table) << Rs274ToolTable(toolTableMm);
  std::ofstream(params) << "5220 1\n";  // G54 in force, every offset 0; rs274 rewrites it
  // rs274 shares its tool table through a file in $HOME: each run gets its own.
  const std::string run = "HOME='" + workDir + "' " + command + " -t '" + table + "' -v '" +
                          params + "' -g '" + program + "' 2>&1";
  Outcome out;
  FILE* pipe = popen(run.c_str(), "r");
  if (pipe == nullptr) {
    out.error = "cannot run " + command;
    return out;
  }
  std::string output;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, got);
  const int status = pclose(pipe);
  out = ParseCanon(output);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    out.ok = false;
    // Its complaint is what is not a canonical call.
    std::istringstream lines(output);
    out.error = "rs274:";
    for (std::string l; std::getline(lines, l);) {
      if (l.find(" N") == std::string::npos && l.find("executing") == std::string::npos)
        out.error += " " + l;
    }
  }
  return out;
}

std::string Compare(const Outcome& ours, const Outcome& theirs, double toleranceMm) {
  if (ours.ok != theirs.ok) {
    return ours.ok ? "only rs274 refuses it: " + theirs.error : "only we refuse it: " + ours.error;
  }
  if (!ours.ok) return "";
  const bool inches = InInches(theirs);
  const std::vector<MoveEnd> a = Distinct(ours.ends, inches), b = Distinct(theirs.ends, inches);
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    // Each of the four terms of rs274's machine position (move, work offset, G92, tool
    // length) may be off by half its last printed digit, in the units it was printed in.
    const double tolerance = std::max(toleranceMm, b[j].printSlackMm);
    std::string diff = MoveDiffers(a[i], b[j], tolerance);
    if (!diff.empty() && (Faint(a[i], inches) || Faint(b[j], inches))) {
      Faint(a[i], inches) ? ++i : ++j;  // the other side dropped it
      continue;
    }
    if (diff.empty()) diff = SpindleDiffers(a[i], b[j]);
    if (!diff.empty()) {
      std::string where = "move ";
      where.append(std::to_string(j + 1)).append(" (our line ").append(std::to_string(a[i].line));
      return where.append("): ").append(diff);
    }
    ++i, ++j;
  }
  while (i < a.size() && Faint(a[i], inches)) ++i;
  while (j < b.size() && Faint(b[j], inches)) ++j;
  if (i < a.size() || j < b.size()) {
    return "we make " + std::to_string(a.size()) + " moves, rs274 " + std::to_string(b.size());
  }
  return "";
}

std::string Listing(const Outcome& ours, const Outcome& theirs) {
  const bool inches = InInches(theirs);
  const std::vector<MoveEnd> a = Distinct(ours.ends, inches), b = Distinct(theirs.ends, inches);
  std::string text;
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    text += std::to_string(i + 1) + " line " + (i < a.size() ? std::to_string(a[i].line) : "-") +
            ": " + (i < a.size() ? Point(a[i]) : "-") + "  rs274 " +
            (i < b.size() ? Point(b[i]) : "-") + (i < b.size() ? ArcNote(b[i]) : "") + "\n";
  }
  return text;
}

}  // namespace torvexan::gcodediff
