#include "tools/gcode-diff/program_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

#include "tools/gcode-diff/generated_text.h"
#include "tools/gcode-diff/outline_generator.h"
#include "tools/gcode-diff/post_style.h"

namespace torvexan::gcodediff {
namespace {

constexpr int kToolCount = 4;
constexpr int kParameterCount = 8;  // #1 .. #8 hold values the program computes
constexpr int kSubprogramNumber = 1000;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}

  GeneratedProgram Run(int statements) {
    GeneratedProgram p;
    for (int t = 1; t <= kToolCount; ++t) {
      const std::string n = std::to_string(t);
      p.toolTable += "T" + n + " P" + n + " D" + Num(Uniform(1.0, 12.0), 3) + " Z" +
                     Num(Uniform(0.0, 80.0), 3) + (Chance(0.3) ? " ;cutter " + n : "") + "\n";
    }
    // One program in five is in inches, all through: rs274 does not convert a tool length
    // already in force when the units change (docs/gcode-dialect.md).
    Line(std::string(Chance(0.2) ? "G20" : "G21") + " G90 G17 G94 G40 G49 G80 G54 G91.1");
    Line("M3 S1000");
    Line("F" + Num(Uniform(100.0, 2000.0), 1));
    for (int i = 0; i < statements; ++i) Statement();
    Line("M30");
    if (subprogram_) Subprogram();
    p.text = PostStyle(text_, rng_);
    return p;
  }

 private:
  double Uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(double p) { return Uniform(0.0, 1.0) < p; }
  void Line(const std::string& l) { text_ += l + "\n"; }
  void Distance(bool incremental) {
    if (incremental != incremental_) Line(incremental ? "G91" : "G90");
    incremental_ = incremental;
  }

  void Statement() {
    const int kind = Int(0, 17);
    // Any other motion ends a run of cycles.
    if (kind != 8 && kind != 9 && kind != 5 && kind != 6 && kind != 13) cycleOn_ = false;
    switch (kind) {
      case 0:
      case 1:
        return Linear();
      case 2:
      case 3:
        return ArcByCentre();
      case 4:
        return ArcByRadius();
      case 5:
        return OffsetG92();
      case 6:
        return CoordinateSystem();
      case 7:
        return Tool();
      case 8:
      case 9:
        return Cycle();
      case 10:
        return Parameters();
      case 11:
        return Call();
      case 12:
        return Machine();
      case 14:
        return Outline();
      case 15:
        return DwellAndMove();
      case 16:
        return LocalOffsetOrSecondHome();
      case 17:
        return ArcEntry();
      default:
        return Modes();
    }
  }

  std::string Axes(double range, int count, bool allowRotary) {
    static const char* kLetters[] = {"X", "Y", "Z", "A"};
    std::string words;
    const int last = allowRotary ? 3 : 2;
    for (int a = 0; a <= last; ++a) {
      if (count < 3 && !Chance(0.6)) continue;
      words += std::string(" ") + kLetters[a] + Num(Uniform(-range, range));
    }
    return words.empty() ? " X" + Num(Uniform(-range, range)) : words;
  }

  void Linear() {
    Distance(Chance(0.3));
    Line(std::string(Chance(0.4) ? "G0" : "G1") +
         Axes(incremental_ ? 20.0 : 60.0, Int(1, 3), Chance(0.2)));
  }

  // The plane's letters: first, second, across, and the centre letters of first and second.
  struct PlaneLetters {
    const char* code;
    char first, second, across, ci, cj;
  };
  PlaneLetters Plane() {
    static const PlaneLetters kPlanes[] = {{"G17", 'X', 'Y', 'Z', 'I', 'J'},
                                           {"G18", 'Z', 'X', 'Y', 'K', 'I'},
                                           {"G19", 'Y', 'Z', 'X', 'J', 'K'}};
    return kPlanes[Int(0, 2)];
  }

  // Arcs are written incrementally: the start is wherever the machine is.
  void ArcByCentre() {
    const PlaneLetters p = Plane();
    const double r = Uniform(0.5, 30.0);
    const double a0 = Uniform(0.0, kTwoPi);
    const bool full = Chance(0.15);
    const double sweep = full ? 0.0 : Uniform(0.05, kTwoPi - 0.05);
    const bool cw = Chance(0.5);
    const double a1 = a0 + (cw ? -sweep : sweep);
    const double ci = -r * std::cos(a0), cj = -r * std::sin(a0);
    const double dx = full ? 0.0 : ci + r * std::cos(a1), dy = full ? 0.0 : cj + r * std::sin(a1);
    std::string l = std::string(p.code) + " G91 " + (cw ? "G2 " : "G3 ") + p.first + Num(dx) + " " +
                    p.second + Num(dy) + " " + p.ci + Num(ci) + " " + p.cj + Num(cj);
    if (Chance(0.3)) l += std::string(" ") + p.across + Num(Uniform(-5.0, 5.0));
    if (Chance(0.1)) l += " A" + Num(Uniform(-90.0, 90.0));  // turns evenly along the arc
    incremental_ = true;
    Line(l);
  }

  void ArcByRadius() {
    const PlaneLetters p = Plane();
    const double r = Uniform(1.0, 30.0);
    const double chord = Uniform(0.1, 1.8) * r;
    const double angle = Uniform(0.0, kTwoPi);
    const bool longArc = Chance(0.3);
    std::string l = std::string(p.code) + " G91 " + (Chance(0.5) ? "G2 " : "G3 ") + p.first +
                    Num(chord * std::cos(angle)) + " " + p.second + Num(chord * std::sin(angle)) +
                    " R" + Num(longArc ? -r : r);
    incremental_ = true;
    Line(l);
  }

  void OffsetG92() {
    const int kind = Int(0, 5);
    if (kind <= 2) return Line("G92" + Axes(40.0, Int(1, 3), false));
    static const char* kOthers[] = {"G92.1", "G92.2", "G92.3"};
    // The change counts for a motion on its own line.
    Distance(false);
    Line(std::string(kOthers[kind - 3]) +
         (Chance(0.4) ? " G0" + Axes(40.0, Int(1, 3), false) : ""));
  }

  void CoordinateSystem() {
    const int kind = Int(0, 2);
    if (kind == 0) return Line("G" + std::to_string(54 + Int(0, 5)));
    Distance(false);
    if (kind == 1)
      return Line("G10 L2 P" + std::to_string(Int(0, 6)) + Axes(80.0, Int(1, 3), false));
    Line("G10 L20 P" + std::to_string(Int(1, 6)) + Axes(40.0, Int(1, 3), false));
  }

  void Tool() {
    const int t = Int(1, kToolCount);
    switch (Int(0, 3)) {
      case 0:
        // rs274 on its own takes the position at M6 from the last move it printed, which a
        // tool length change since has made stale; a control re-reads it from the machine.
        // Tool changes here come as CAM programs write them: length off, up, change.
        Line("G49");
        Distance(false);
        Line("G53 G0 Z0");
        Line("T" + std::to_string(t) + " M6");
        counterClockwise_ = false;
        return Line("M3");  // the change stopped the spindle
      case 1:
        return Line("G43 H" + std::to_string(t));
      case 2:
        return Line("G43");
      default:
        return Line("G49");
    }
  }

  void Cycle() {
    // Not G88: rs274 leaves the way out of the hole to the operator (docs/gcode-dialect.md).
    static const int kCodes[] = {81, 82, 83, 73, 85, 86, 89, 84, 87};
    const int code = kCodes[Int(0, 8)];
    // rs274 writes G84's moves outside G17 with the axes swapped, and starts it from a stale
    // height after a tool length change; it taps only with the spindle turning clockwise.
    const PlaneLetters p = code == 84 ? PlaneLetters{"G17", 'X', 'Y', 'Z', 'I', 'J'} : Plane();
    if (code == 84) {
      if (counterClockwise_) Line("M3");
      counterClockwise_ = false;
      Distance(false);
      Line("G0 Z" + Num(Uniform(0.0, 30.0)));
    }
    // rs274 carries a run's initial level over to the new plane's axis: a run of cycles
    // changes plane only after G80 here (docs/gcode-dialect.md).
    if (cycleOn_ && cyclePlane_ != p.code) Line("G80");
    cycleOn_ = true;
    cyclePlane_ = p.code;
    const bool incremental = Chance(0.3);
    Distance(incremental);
    std::string l =
        std::string(p.code) + (Chance(0.5) ? " G98 G" : " G99 G") + std::to_string(code);
    const double r = incremental ? Uniform(-5.0, 10.0) : Uniform(-10.0, 20.0);
    const double depth = incremental ? -Uniform(0.5, 15.0) : r - Uniform(0.5, 15.0);
    l += std::string(" ") + p.first + Num(Uniform(-40.0, 40.0)) + " " + p.second +
         Num(Uniform(-40.0, 40.0)) + " " + p.across + Num(depth) + " R" + Num(r);
    if (code == 83 || code == 73) l += " Q" + Num(Uniform(0.3, 4.0));
    if (code == 82 || code == 84 || code == 86 || code == 89) l += " P" + Num(Uniform(0.0, 0.5), 2);
    if (code == 87) l += BackBoreWords(p, incremental, r, depth);
    if (incremental && Chance(0.5)) l += " L" + std::to_string(Int(2, 4));
    Line(l);
    if (Chance(0.5)) {
      Line(std::string(1, p.first) + Num(Uniform(-40.0, 40.0)) + " " + p.second +
           Num(Uniform(-40.0, 40.0)));
    }
    // A run of cycles ends here: rs274 carries a run's heights across changes of retract
    // mode, coordinate system or tool length in ways of its own (docs/gcode-dialect.md).
    cycleOn_ = false;
    Line(Chance(0.5) ? "G80" : "G80 G0 " + std::string(1, p.first) + Num(Uniform(-20.0, 20.0)));
    Line("G17");
  }

  // G87's offset off the centre in the plane and the height it bores back up to, between
  // the bottom and R.
  std::string BackBoreWords(const PlaneLetters& p, bool incremental, double r, double depth) {
    const auto letter = [](char axis) {
      return std::string(1, static_cast<char>('I' + axis - 'X'));
    };
    const double up = Uniform(0.1, 0.9);
    const double back = incremental ? -depth * up : depth + (r - depth) * up;
    return " " + letter(p.first) + Num(Uniform(-3.0, 3.0)) + " " + letter(p.second) +
           Num(Uniform(-3.0, 3.0)) + " " + letter(p.across) + Num(back);
  }

  // An expression over numbers and the parameters set so far.
  std::string Expression(int depth) {
    if (depth == 0 || Chance(0.3)) {
      if (assigned_ > 0 && Chance(0.5)) return "#" + std::to_string(Int(1, assigned_));
      return Num(Uniform(-20.0, 20.0), 3);
    }
    static const char* kBinary[] = {"+",  "-",  "*",  "/",   "MOD", "EQ",  "NE", "GT",
                                    "GE", "LT", "LE", "AND", "OR",  "XOR", "**"};
    static const char* kUnary[] = {"SIN", "COS", "ABS", "ROUND", "FIX", "FUP", "TAN"};
    switch (Int(0, 3)) {
      case 0: {
        const std::string op = kBinary[Int(0, 14)];
        if (op == "/" || op == "MOD")
          return "[" + Expression(depth - 1) + " " + op + " " + Num(Uniform(1.0, 9.0), 2) + "]";
        if (op == "**")
          return "[ABS[" + Expression(depth - 1) + "] ** " + std::to_string(Int(0, 2)) + "]";
        return "[" + Expression(depth - 1) + " " + op + " " + Expression(depth - 1) + "]";
      }
      case 1:
        return std::string(kUnary[Int(0, 6)]) + "[" + Expression(depth - 1) + "]";
      case 2:
        return "SQRT[ABS[" + Expression(depth - 1) + "]]";
      default:
        return "ATAN[" + Expression(depth - 1) + "]/[" + Num(Uniform(0.5, 5.0), 2) + "]";
    }
  }

  // Values kept small, so that moves stay on a table.
  std::string Bounded() { return "[" + Expression(3) + " MOD 50]"; }

  void Parameters() {
    if (assigned_ < kParameterCount && (assigned_ == 0 || Chance(0.6))) {
      ++assigned_;
      return Line("#" + std::to_string(assigned_) + " = " + Bounded());
    }
    Distance(false);
    Line(std::string(Chance(0.5) ? "G0" : "G1") + " X" + Bounded() + " Y-#" +
         std::to_string(Int(1, assigned_)) + " Z" + Bounded());
  }

  void Call() {
    subprogram_ = true;
    Line("M98 P" + std::to_string(kSubprogramNumber) + " L" + std::to_string(Int(1, 3)));
    incremental_ = false;  // the subprogram ends in G90
  }

  void Subprogram() {
    Line("O" + std::to_string(kSubprogramNumber));
    Line("G91 G1" + Axes(10.0, Int(1, 3), false));
    Line("G17 G3 X0 Y0 I" + Num(Uniform(1.0, 5.0)) + " J0");
    Line("G0" + Axes(10.0, 1, false));
    Line("G90");
    Line("M99");
  }

  void Outline() {
    Distance(false);
    for (const std::string& l : CompensatedOutline(rng_, kToolCount)) Line(l);
  }

  // A dwell and a motion on one line, as Mach3 posts write them.
  void DwellAndMove() {
    Distance(Chance(0.3));
    Line("G4 P" + Num(Uniform(0.0, 0.5), 3) + (Chance(0.5) ? " G0" : " G1") +
         Axes(incremental_ ? 20.0 : 60.0, Int(1, 3), false));
  }

  void LocalOffsetOrSecondHome() {
    if (Chance(0.6)) return Line("G52" + Axes(30.0, Int(1, 3), false));
    Distance(false);
    // Through a point, then the named axes (all without any) to machine zero.
    Line(Chance(0.5) ? "G30" : "G30" + Axes(40.0, Int(1, 2), false));
  }

  // Compensation switched on by an arc, then off by a move away: LinuxCNC cuts the entry on
  // an arc of its own, which ours must match.
  void ArcEntry() {
    Distance(false);
    const double sx = Uniform(-40.0, 40.0), sy = Uniform(-40.0, 40.0);
    const double r = Uniform(6.0, 30.0);
    const double a0 = Uniform(0.0, kTwoPi);
    const double sweep = Uniform(0.3, 2.5);
    const bool cw = Chance(0.5);
    const double cx = sx - r * std::cos(a0), cy = sy - r * std::sin(a0);
    const double a1 = a0 + (cw ? -sweep : sweep);
    Line("G17 G0 X" + Num(sx) + " Y" + Num(sy));
    Line(std::string(Chance(0.5) ? "G41" : "G42") + " D" + std::to_string(Int(1, kToolCount)));
    Line(std::string(cw ? "G2" : "G3") + " X" + Num(cx + r * std::cos(a1)) + " Y" +
         Num(cy + r * std::sin(a1)) + " I" + Num(cx - sx) + " J" + Num(cy - sy));
    Line("G40 G0 X" + Num(Uniform(-60.0, 60.0)) + " Y" + Num(Uniform(-60.0, 60.0)));
  }

  void Machine() {
    Distance(false);
    Line(std::string("G53 ") + (Chance(0.5) ? "G0" : "G1") + Axes(60.0, Int(1, 3), false));
  }

  void Modes() {
    static const char* kModes[] = {"G61", "G64", "G64 P0.05", "M7", "M8", "M9", "G61.1"};
    const int mode = Int(0, 9);
    if (mode < 7) return Line(kModes[mode]);
    // A new speed for the spindle as it turns.
    if (mode == 9) return Line("S" + std::to_string(Int(5, 300) * 10));
    // The direction and speed that cycles which stop the spindle must restore.
    counterClockwise_ = mode == 8;
    Line(std::string(counterClockwise_ ? "M4" : "M3") + " S" + std::to_string(Int(5, 300) * 10));
  }

  std::mt19937_64 rng_;
  std::string text_;
  bool incremental_ = false;
  bool subprogram_ = false;
  bool cycleOn_ = false;
  bool counterClockwise_ = false;  // M4 in force
  std::string cyclePlane_;
  int assigned_ = 0;
};

}  // namespace

GeneratedProgram GenerateProgram(uint64_t seed, int statements) {
  return Generator(seed).Run(statements);
}

}  // namespace torvexan::gcodediff
