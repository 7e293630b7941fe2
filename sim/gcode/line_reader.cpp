#include "sim/gcode/line_reader.h"

#include <cmath>

#include "sim/gcode/axes.h"

namespace torvexan::sim {
namespace {

constexpr int kFirstUserCode = 101;
constexpr int kLastUserCode = 227;
constexpr int kCoordinateSystems = 6;  // G54 .. G59

// Modal groups: two words of one group on one line contradict each other.
enum Group {
  kGroupMotion,
  kGroupPlane,
  kGroupUnits,
  kGroupDistance,
  kGroupArcDistance,
  kGroupFeedMode,
  kGroupPath,
  kGroupCutterComp,
  kGroupToolLength,
  kGroupCoordinates,
  kGroupRetract,
  kGroupNonModal,
  kGroupMachine,   // G53 goes with a motion word
  kGroupCycleEnd,  // G80 gives way to another motion word on its line
  kGroupStop,
  kGroupToolChange,
  kGroupSpindle,
  kGroupCoolant,
  kGroupFlow,
  kGroupProbeLog,
  kGroupUser,
  kGroupCount
};

// Letters that are plain values; each at most once on a line.
enum Value { kF, kS, kP, kQ, kL, kT, kH, kD, kO, kValueCount };
constexpr char kValueLetters[] = "FSPQLTHDO";

struct KnownG {
  int tenths;
  Group group;
};
constexpr KnownG kKnownG[] = {
    {0, kGroupMotion},        {10, kGroupMotion},       {20, kGroupMotion},
    {30, kGroupMotion},       {382, kGroupMotion},      {310, kGroupMotion},
    {730, kGroupMotion},      {810, kGroupMotion},      {820, kGroupMotion},
    {830, kGroupMotion},      {840, kGroupMotion},      {850, kGroupMotion},
    {860, kGroupMotion},      {880, kGroupMotion},      {890, kGroupMotion},
    {800, kGroupCycleEnd},    {170, kGroupPlane},       {180, kGroupPlane},
    {190, kGroupPlane},       {200, kGroupUnits},       {210, kGroupUnits},
    {900, kGroupDistance},    {910, kGroupDistance},    {901, kGroupArcDistance},
    {911, kGroupArcDistance}, {940, kGroupFeedMode},    {930, kGroupFeedMode},
    {950, kGroupFeedMode},    {610, kGroupPath},        {611, kGroupPath},
    {640, kGroupPath},        {400, kGroupCutterComp},  {410, kGroupCutterComp},
    {420, kGroupCutterComp},  {430, kGroupToolLength},  {440, kGroupToolLength},
    {490, kGroupToolLength},  {540, kGroupCoordinates}, {550, kGroupCoordinates},
    {560, kGroupCoordinates}, {570, kGroupCoordinates}, {580, kGroupCoordinates},
    {590, kGroupCoordinates}, {980, kGroupRetract},     {990, kGroupRetract},
    {40, kGroupNonModal},     {100, kGroupNonModal},    {280, kGroupNonModal},
    {281, kGroupNonModal},    {920, kGroupNonModal},    {300, kGroupNonModal},
    {520, kGroupNonModal},    {921, kGroupNonModal},    {922, kGroupNonModal},
    {923, kGroupNonModal},    {530, kGroupMachine},     {870, kGroupMotion},
};

struct KnownM {
  int code;
  Group group;
};
constexpr KnownM kKnownM[] = {
    {0, kGroupStop},       {1, kGroupStop},      {2, kGroupStop},      {30, kGroupStop},
    {6, kGroupToolChange}, {3, kGroupSpindle},   {4, kGroupSpindle},   {5, kGroupSpindle},
    {7, kGroupCoolant},    {8, kGroupCoolant},   {9, kGroupCoolant},   {98, kGroupFlow},
    {99, kGroupFlow},      {40, kGroupProbeLog}, {41, kGroupProbeLog},
};

// G-codes in tenths, so that G28.1 and G38.2 are whole numbers.
int Tenths(double value) {
  return static_cast<int>(std::lround(value * 10.0));
}

bool Whole(double v) {
  return v == std::floor(v);
}

class LineReader {
 public:
  LineReader(int number, const std::vector<ToolEntry>& tools, ModalState* modal)
      : number_(number), tools_(tools), modal_(*modal), out_(modal) {}

  bool Read(const std::vector<Word>& words, Block* block, LineFlow* flow, std::string* error) {
    error_ = error;
    block->line = number_;
    for (const Word& w : words) {
      if (!Take(w, block)) return false;
    }
    scale_ = modal_.inches ? kMmPerInch : 1.0;
    if (!SettleModes(block) || !SettleTools(block) || !SettleAxes(block) ||
        !SettleNonModal(block) || !SettleMotion(block) || !SettleValueWords(block) ||
        !SettleFlow(block, flow))
      return false;
    Stamp(block);
    *out_ = modal_;
    return true;
  }

 private:
  bool Fail(const Word& w, const std::string& message) {
    *error_ = "'" + w.text + "': " + message;
    return false;
  }
  bool Fail(const std::string& message) {
    *error_ = message;
    return false;
  }

  bool Claim(const Word& w, Group group) {
    if (groupWord_[group] != nullptr) {
      return Fail(w, "in one modal group with '" + groupWord_[group]->text + "' on this line");
    }
    groupWord_[group] = &w;
    return true;
  }

  bool Once(const Word& w, const Word*& slot) {
    if (slot != nullptr) return Fail(w, std::string(1, w.letter) + " given twice");
    slot = &w;
    return true;
  }

  const Word* Val(Value v) const { return valueWord_[v]; }
  int GroupCode(Group g) const {
    return groupWord_[g] != nullptr ? Tenths(groupWord_[g]->value) : -1;
  }

  bool Take(const Word& w, Block* b) {
    const int axis = AxisIndex(w.letter);
    if (axis >= 0) return Once(w, axisWord_[axis]);
    switch (w.letter) {
      case 'G':
        return GCode(w);
      case 'M':
        return MCode(w, b);
      case 'I':
      case 'J':
      case 'K':
        return Once(w, centreWord_[w.letter - 'I']);
      case 'R':
        return Once(w, radiusWord_);
      case 'N':
        return true;  // block numbers are only labels
      default:
        break;
    }
    for (int v = 0; v < kValueCount; ++v) {
      if (kValueLetters[v] == w.letter) return Once(w, valueWord_[v]);
    }
    return Fail(w, "unknown word");
  }

  bool GCode(const Word& w) {
    const int code = Tenths(w.value);
    if (std::fabs(w.value * 10.0 - code) < 1e-6) {
      for (const KnownG& k : kKnownG) {
        if (k.tenths == code) return Claim(w, k.group);
      }
    }
    return Fail(w, "unsupported G-code");
  }

  bool MCode(const Word& w, Block* b) {
    if (!Whole(w.value) || w.value < 0.0) return Fail(w, "unsupported M-code");
    const int code = static_cast<int>(w.value);
    for (const KnownM& k : kKnownM) {
      if (k.code == code) return Claim(w, k.group);
    }
    if (code >= kFirstUserCode && code <= kLastUserCode) {
      if (!Claim(w, kGroupUser)) return false;
      b->userCode = code;
      return true;
    }
    // Mach3 runs past an M-code it has no macro for; the report warns of it.
    b->unknownMCode = code;
    return true;
  }

  // Plane, units, distance modes, path mode, feed, speed, coordinate system, retract mode.
  bool SettleModes(Block* b) {
    static constexpr Plane kPlanes[] = {Plane::kXY, Plane::kZX, Plane::kYZ};
    if (GroupCode(kGroupPlane) >= 0) {
      const Plane plane = kPlanes[(GroupCode(kGroupPlane) - 170) / 10];
      // The offset side is defined in the plane compensation began in.
      if (plane != modal_.plane && modal_.cutterComp != CutterComp::kOff)
        return Fail(*groupWord_[kGroupPlane], "cannot change plane with cutter compensation on");
      modal_.plane = plane;
    }
    if (GroupCode(kGroupUnits) >= 0) modal_.inches = GroupCode(kGroupUnits) == 200;
    scale_ = modal_.inches ? kMmPerInch : 1.0;
    if (GroupCode(kGroupDistance) >= 0) modal_.incremental = GroupCode(kGroupDistance) == 910;
    if (GroupCode(kGroupArcDistance) >= 0)
      modal_.arcCentreAbsolute = GroupCode(kGroupArcDistance) == 901;
    switch (GroupCode(kGroupPath)) {
      case 610:
        modal_.path = PathMode::kExactStop;
        break;
      case 611:
        modal_.path = PathMode::kExactPath;
        break;
      case 640:
        modal_.path = PathMode::kBlend;
        modal_.blendTolerance = Val(kP) != nullptr ? Val(kP)->value * scale_ : 0.0;
        if (modal_.blendTolerance < 0.0) return Fail(*Val(kP), "G64 P must not be negative");
        break;
      default:
        break;
    }
    static constexpr FeedMode kFeedModes[] = {FeedMode::kInverseTime, FeedMode::kPerMinute,
                                              FeedMode::kPerRevolution};
    if (GroupCode(kGroupFeedMode) >= 0) {
      const FeedMode mode = kFeedModes[(GroupCode(kGroupFeedMode) - 930) / 10];
      // F means something else in the new mode: a feed move needs a new F first.
      if (mode != modal_.feedMode) modal_.feedPerMinute = 0.0;
      modal_.feedMode = mode;
    }
    if (const Word* f = Val(kF)) {
      if (!(f->value > 0.0)) return Fail(*f, "feed rate F must be positive");
      // In G93 F is moves per minute whatever the units.
      modal_.feedPerMinute = f->value * (modal_.feedMode == FeedMode::kInverseTime ? 1.0 : scale_);
    }
    if (const Word* s = Val(kS)) {
      if (s->value < 0.0) return Fail(*s, "spindle speed S must not be negative");
      b->hasSpeed = true;
      b->speed = s->value;
    }
    if (GroupCode(kGroupCoordinates) >= 0)
      modal_.coordinateSystem = (GroupCode(kGroupCoordinates) - 540) / 10 + 1;
    if (GroupCode(kGroupRetract) >= 0) modal_.cycle.retractToR = GroupCode(kGroupRetract) == 990;
    return true;
  }

  const ToolEntry* FindTool(int number) const {
    for (const ToolEntry& t : tools_) {
      if (t.number == number) return &t;
    }
    return nullptr;
  }

  // T, M6, G43/G44/G49 with H, G40/G41/G42 with D.
  bool SettleTools(Block* b) {
    if (const Word* t = Val(kT)) {
      if (!Whole(t->value) || t->value < 0.0) return Fail(*t, "tool number must be whole");
      modal_.selectedTool = static_cast<int>(t->value);
      b->selectTool = modal_.selectedTool;
    }
    if (groupWord_[kGroupToolChange] != nullptr) {
      b->changeTool = true;
      modal_.tool = modal_.selectedTool;
    }
    static constexpr ToolLength kLengths[] = {ToolLength::kPlus, ToolLength::kMinus};
    const int length = GroupCode(kGroupToolLength);
    if (length == 430 || length == 440) b->toolLength = kLengths[length == 440];
    if (length == 490) b->toolLength = ToolLength::kCancel;
    if (const Word* h = Val(kH)) {
      if (length != 430 && length != 440) return Fail(*h, "H only goes with G43 or G44");
      if (!Whole(h->value) || h->value < 0.0) return Fail(*h, "tool number must be whole");
      b->lengthTool = static_cast<int>(h->value);
    }
    return SettleCutterComp();
  }

  bool SettleCutterComp() {
    const int comp = GroupCode(kGroupCutterComp);
    const Word* d = Val(kD);
    if (d != nullptr && comp != 410 && comp != 420) return Fail(*d, "D only goes with G41 or G42");
    if (comp == 400) {
      modal_.cutterComp = CutterComp::kOff;
      modal_.compRadius = 0.0;
    }
    if (comp != 410 && comp != 420) return true;
    const Word& w = *groupWord_[kGroupCutterComp];
    if (modal_.cutterComp != CutterComp::kOff)
      return Fail(w, "cutter compensation is already on (G40 first)");
    const int number = d != nullptr ? static_cast<int>(d->value) : modal_.tool;
    const ToolEntry* tool = FindTool(number);
    const double radius = tool != nullptr ? tool->diameter / 2.0 : 0.0;
    modal_.cutterComp = comp == 410 ? CutterComp::kLeft : CutterComp::kRight;
    modal_.compRadius = radius;
    return true;
  }

  bool SettleAxes(Block* b) {
    for (int a = 0; a < kHostAxisCount; ++a) {
      if (axisWord_[a] == nullptr) continue;
      anyAxis_ = true;
      b->hasAxis[a] = true;
      // X, Y and Z are lengths; A, B and C are degrees whatever the units.
      b->axis[a] = axisWord_[a]->value * (a < 3 ? scale_ : 1.0);
    }
    for (int i = 0; i < 3; ++i) {
      if (centreWord_[i] == nullptr) continue;
      anyCentre_ = true;
      b->hasCentre[i] = true;
      b->centre[i] = centreWord_[i]->value * scale_;
    }
    if (radiusWord_ != nullptr) {
      b->hasRadius = true;
      b->radius = radiusWord_->value * scale_;
    }
    b->machineCoordinates = groupWord_[kGroupMachine] != nullptr;
    return true;
  }

  bool SettleNonModal(Block* b) {
    const Word* nonModal = groupWord_[kGroupNonModal];
    if (nonModal == nullptr) return true;
    switch (GroupCode(kGroupNonModal)) {
      case 40:
        b->nonModal = NonModal::kDwell;
        if (Val(kP) == nullptr) return Fail(*nonModal, "G4 without a dwell time P (seconds)");
        if (Val(kP)->value < 0.0) return Fail(*Val(kP), "dwell time P must not be negative");
        // Axis words on the line belong to the motion mode, which runs after the dwell.
        b->dwellSeconds = Val(kP)->value;
        return true;
      case 100:
        return SettleG10(*nonModal, b);
      case 280:
      case 300:
        // The machine keeps no second reference point of its own: G30 goes to machine zero
        // as G28 does (LinuxCNC's G30 too, while #5181 to #5186 are 0).
        b->nonModal = NonModal::kReturnToZero;
        return true;
      case 520:
        b->nonModal = NonModal::kLocalOffset;
        break;
      case 281:
        b->nonModal = NonModal::kReference;
        break;
      case 920:
        b->nonModal = NonModal::kSetOffset;
        break;
      case 921:
        b->nonModal = NonModal::kClearOffset;
        return true;
      case 922:
        b->nonModal = NonModal::kSuspendOffset;
        return true;
      default:
        b->nonModal = NonModal::kRestoreOffset;
        return true;
    }
    if (!anyAxis_) return Fail(*nonModal, "needs axis words naming the axes");
    return true;
  }

  bool SettleG10(const Word& g10, Block* b) {
    const Word* l = Val(kL);
    if (l != nullptr && l->value == 1.0) return SettleG10L1(g10, b);
    if (l == nullptr || (l->value != 2.0 && l->value != 20.0))
      return Fail(g10, "G10 needs L1, L2 or L20");
    const Word* p = Val(kP);
    if (p == nullptr || !Whole(p->value) || p->value < 0.0 || p->value > kCoordinateSystems)
      return Fail(p != nullptr ? *p : g10, "G10 needs P0 to P6 (the coordinate system)");
    b->nonModal = l->value == 2.0 ? NonModal::kSetSystem : NonModal::kSetSystemHere;
    b->offsetSystem = static_cast<int>(p->value);
    if (!anyAxis_) return Fail(g10, "needs axis words naming the axes");
    return true;
  }

  // G10 L1 P<tool> R<radius> Z<length>: the tool table from the program.
  bool SettleG10L1(const Word& g10, Block* b) {
    const Word* p = Val(kP);
    if (p == nullptr || !Whole(p->value) || p->value < 1.0)
      return Fail(p != nullptr ? *p : g10, "G10 L1 needs P, the tool's number");
    for (int a = 0; a < kHostAxisCount; ++a) {
      if (axisWord_[a] != nullptr && a != 2)
        return Fail(*axisWord_[a], "G10 L1 takes R (the radius) and Z (the length)");
    }
    if (radiusWord_ == nullptr && axisWord_[2] == nullptr)
      return Fail(g10, "G10 L1 needs R (the radius) or Z (the length)");
    if (radiusWord_ != nullptr && radiusWord_->value < 0.0)
      return Fail(*radiusWord_, "a tool's radius must not be negative");
    b->nonModal = NonModal::kSetTool;
    b->tableTool = static_cast<int>(p->value);
    return true;
  }

  bool SettleMotion(Block* b) {
    const Word* motionWord = groupWord_[kGroupMotion];
    if (motionWord != nullptr) {
      modal_.motion = MotionOf(GroupCode(kGroupMotion));
    } else if (groupWord_[kGroupCycleEnd] != nullptr) {
      modal_.motion = MotionMode::kNone;  // G80 alone ends the cycle
    }
    const Word* nonModal = groupWord_[kGroupNonModal];
    const bool takesAxes =
        b->nonModal == NonModal::kReference || b->nonModal == NonModal::kReturnToZero ||
        b->nonModal == NonModal::kSetOffset || b->nonModal == NonModal::kLocalOffset ||
        b->nonModal == NonModal::kSetSystem || b->nonModal == NonModal::kSetTool ||
        b->nonModal == NonModal::kSetSystemHere;
    if (takesAxes && anyAxis_ && motionWord != nullptr) {
      return Fail(*motionWord,
                  "on one line with '" + nonModal->text + "', which takes the axis words");
    }
    const bool arc = modal_.motion == MotionMode::kArcCw || modal_.motion == MotionMode::kArcCcw;
    b->moves = !takesAxes && (anyAxis_ || (motionWord != nullptr && arc && anyCentre_));
    const bool cycle = modal_.motion == MotionMode::kCycle && b->moves;
    const bool backBore = cycle && modal_.cycle.code == 87;  // G87 takes I J K
    if ((anyCentre_ || radiusWord_ != nullptr) && !(b->moves && arc) &&
        !(cycle && (backBore || !anyCentre_)) &&
        !(b->nonModal == NonModal::kSetTool && !anyCentre_)) {
      const Word* w = radiusWord_ != nullptr ? radiusWord_ : FirstCentreWord();
      return Fail(*w, "centre and radius words only go with an arc (G2, G3) that moves");
    }
    if (b->machineCoordinates &&
        !(b->moves && (modal_.motion == MotionMode::kRapid || modal_.motion == MotionMode::kFeed)))
      return Fail(*groupWord_[kGroupMachine], "G53 goes with G0 or G1 and axis words");
    if (b->machineCoordinates && modal_.incremental)
      return Fail(*groupWord_[kGroupMachine], "G53 takes absolute positions: G90 first");
    if (modal_.motion == MotionMode::kCycle && !SettleCycle(b, motionWord)) return false;
    if (!b->moves) return true;
    if (modal_.motion == MotionMode::kNone) {
      if (groupWord_[kGroupCycleEnd] != nullptr)
        return Fail(*groupWord_[kGroupCycleEnd], "G80 takes no axis words");
      return Fail("axis words without a motion mode (G0, G1, G2, G3, G38.2)");
    }
    if (modal_.motion != MotionMode::kRapid && modal_.feedPerMinute <= 0.0) {
      return Fail("feed move without a feed rate F");
    }
    if (modal_.feedMode == FeedMode::kInverseTime && modal_.motion != MotionMode::kRapid) {
      // Each move takes its own time: F belongs on every feed move's line (LinuxCNC's rule).
      const Word& w = motionWord != nullptr ? *motionWord : *FirstAxisWord();
      if (modal_.motion == MotionMode::kCycle || modal_.motion == MotionMode::kProbe)
        return Fail(w, "inverse time (G93) goes with G1, G2 and G3 only");
      if (Val(kF) == nullptr) return Fail(w, "inverse time (G93) needs F on every feed move");
    }
    if (arc && !CheckArcWords(*b)) return false;
    return true;
  }

  MotionMode MotionOf(int code) {
    switch (code) {
      case 0:
        return MotionMode::kRapid;
      case 10:
        return MotionMode::kFeed;
      case 20:
        return MotionMode::kArcCw;
      case 30:
        return MotionMode::kArcCcw;
      case 382:
      case 310:  // Mach3's probe
        return MotionMode::kProbe;
      default:
        modal_.cycle.code = code / 10;
        return MotionMode::kCycle;
    }
  }

  // Canned cycles keep their depth, R, Q and P from line to line until G80.
  bool SettleCycle(Block* b, const Word* cycleWord) {
    static constexpr int kAcross[] = {2, 1, 0};  // the plane's third axis
    const int across = kAcross[static_cast<int>(modal_.plane)];
    if (cycleWord != nullptr && modal_.cutterComp != CutterComp::kOff)
      return Fail(*cycleWord, "a canned cycle cannot run with cutter compensation on");
    modal_.cycle.rGiven = radiusWord_ != nullptr;
    modal_.cycle.depthGiven = b->hasAxis[across];
    if (radiusWord_ != nullptr) {
      modal_.cycle.r = radiusWord_->value * scale_;
      modal_.hasCycleR = true;
      b->hasRadius = false;
    }
    if (b->hasAxis[across]) {
      modal_.cycleDepth = b->axis[across];
      modal_.hasCycleDepth = true;
    }
    if (Val(kQ) != nullptr) {
      if (!(Val(kQ)->value > 0.0)) return Fail(*Val(kQ), "peck depth Q must be positive");
      modal_.cycle.q = Val(kQ)->value * scale_;
    }
    if (Val(kP) != nullptr) modal_.cycle.dwell = Val(kP)->value;
    modal_.cycle.repeats = 1;
    if (const Word* l = Val(kL)) {
      if (!Whole(l->value) || l->value < 1.0) return Fail(*l, "L must be a whole count from 1");
      modal_.cycle.repeats = static_cast<int>(l->value);
    }
    if (!b->moves) return true;
    const Word& w = cycleWord != nullptr ? *cycleWord : *FirstAxisWord();
    if (!modal_.hasCycleDepth) return Fail(w, "canned cycle without a depth");
    if (!modal_.hasCycleR) return Fail(w, "canned cycle without a retract plane R");
    const int code = modal_.cycle.code;
    if ((code == 73 || code == 83) && !(modal_.cycle.q > 0.0))
      return Fail(w, "peck drilling without a peck depth Q");
    if (code == 87 && !SettleBackBore(cycleWord != nullptr, w, across)) return false;
    b->hasAxis[across] = true;
    b->axis[across] = modal_.cycleDepth;
    return true;
  }

  // G87's I J K: a line with the G87 word writes all three, a line that goes on with the
  // cycle keeps those it leaves out. The tool bores back up from the bottom, at most to R.
  bool SettleBackBore(bool newCycle, const Word& cycleWord, int across) {
    for (int i = 0; i < 3; ++i) {
      if (centreWord_[i] != nullptr) {
        modal_.cycle.backBore[i] = centreWord_[i]->value * scale_;
      } else if (newCycle) {
        return Fail(cycleWord, "G87 needs I, J and K (the offset in the plane, the height)");
      }
    }
    // Incremental: R from the run's first height, the depth from R, K from the bottom.
    const double bottom = modal_.cycleDepth;
    const double r = modal_.incremental ? 0.0 : modal_.cycle.r;
    const double back = modal_.cycle.backBore[across];
    const double height = modal_.incremental ? bottom + back : back;
    if (!(height > bottom && height <= r)) {
      const Word* k = centreWord_[across];
      return Fail(k != nullptr ? *k : cycleWord,
                  "the back-boring height must lie above the bottom and not above R");
    }
    return true;
  }

  // Words that only some codes take.
  bool SettleValueWords(const Block* b) {
    const bool cycle = modal_.motion == MotionMode::kCycle && b->moves;
    const bool g10 = b->nonModal == NonModal::kSetSystem ||
                     b->nonModal == NonModal::kSetSystemHere || b->nonModal == NonModal::kSetTool;
    const bool m98 = GroupCode(kGroupFlow) == 980;
    if (const Word* p = Val(kP); p != nullptr && b->nonModal != NonModal::kDwell && !g10 &&
                                 GroupCode(kGroupPath) != 640 && !cycle && !m98)
      return Fail(*p, "P goes with G4, G10, G64, a canned cycle or M98");
    if (const Word* q = Val(kQ); q != nullptr && !cycle)
      return Fail(*q, "Q goes with a canned cycle");
    if (const Word* l = Val(kL); l != nullptr && !g10 && !cycle && !m98)
      return Fail(*l, "L goes with G10, a canned cycle or M98");
    return true;
  }

  bool SettleFlow(Block* b, LineFlow* flow) {
    if (const Word* o = Val(kO)) {
      if (!Whole(o->value) || o->value < 0.0) return Fail(*o, "program number must be whole");
      flow->label = static_cast<int>(o->value);
    }
    const int flowCode = GroupCode(kGroupFlow);
    if (flowCode == 980) {
      const Word* p = Val(kP);
      if (p == nullptr || !Whole(p->value))
        return Fail(*groupWord_[kGroupFlow], "M98 needs P, the subprogram's number");
      flow->call = static_cast<int>(p->value);
      if (const Word* l = Val(kL)) {
        if (!Whole(l->value) || l->value < 0.0) return Fail(*l, "L must be a whole count");
        flow->repeats = static_cast<int>(l->value);
      }
    }
    flow->ret = flowCode == 990;
    static constexpr int kStops[] = {0, 1, 2, 30};
    static constexpr ProgramStop kStopOf[] = {ProgramStop::kPause, ProgramStop::kOptionalPause,
                                              ProgramStop::kEnd, ProgramStop::kEnd};
    for (int i = 0; i < 4; ++i) {
      if (GroupCode(kGroupStop) == kStops[i] * 10) b->stop = kStopOf[i];
    }
    static constexpr SpindleTurn kTurns[] = {SpindleTurn::kClockwise,
                                             SpindleTurn::kCounterClockwise, SpindleTurn::kStop};
    if (GroupCode(kGroupSpindle) >= 0) b->spindle = kTurns[GroupCode(kGroupSpindle) / 10 - 3];
    const int coolant = GroupCode(kGroupCoolant);
    b->coolant = CoolantWords{coolant == 70, coolant == 80, coolant == 90};
    if (GroupCode(kGroupProbeLog) >= 0) b->probeLog = GroupCode(kGroupProbeLog) / 10;
    return true;
  }

  void Stamp(Block* b) const {
    b->plane = modal_.plane;
    b->inches = modal_.inches;
    b->incremental = modal_.incremental;
    b->arcCentreAbsolute = modal_.arcCentreAbsolute;
    b->exactStop = modal_.path != PathMode::kBlend;
    b->blendTolerance = modal_.path == PathMode::kBlend ? modal_.blendTolerance : 0.0;
    b->feedPerMinute = modal_.feedPerMinute;
    b->feedMode = modal_.feedMode;
    b->motion = modal_.motion;
    b->cycle = modal_.cycle;
    b->coordinateSystem = modal_.coordinateSystem;
    b->cutterComp = modal_.cutterComp;
    b->compRadius = modal_.compRadius;
    b->tool = modal_.tool;
  }

  const Word* FirstCentreWord() const {
    for (const Word* w : centreWord_) {
      if (w != nullptr) return w;
    }
    return nullptr;
  }
  const Word* FirstAxisWord() const {
    for (const Word* w : axisWord_) {
      if (w != nullptr) return w;
    }
    return nullptr;
  }

  // The centre offsets must lie in the plane; a radius excludes them.
  bool CheckArcWords(const Block& b) {
    static constexpr bool kInPlane[3][3] = {
        {true, true, false},  // G17: I J
        {true, false, true},  // G18: I K
        {false, true, true},  // G19: J K
    };
    const bool* inPlane = kInPlane[static_cast<int>(modal_.plane)];
    bool anyCentre = false;
    for (int i = 0; i < 3; ++i) {
      if (!b.hasCentre[i]) continue;
      if (!inPlane[i]) return Fail(*centreWord_[i], "centre offset outside the arc's plane");
      anyCentre = true;
    }
    if (b.hasRadius && anyCentre)
      return Fail(*radiusWord_, "an arc takes R or centre offsets, not both");
    if (!b.hasRadius && !anyCentre) return Fail("arc without centre offsets (I, J, K) or radius R");
    if (b.hasRadius && b.radius == 0.0) return Fail(*radiusWord_, "arc radius must not be 0");
    return true;
  }

  int number_;
  const std::vector<ToolEntry>& tools_;
  ModalState modal_;  // a working copy, written back when the line is good
  ModalState* out_;
  std::string* error_ = nullptr;
  double scale_ = 1.0;
  bool anyAxis_ = false;
  bool anyCentre_ = false;
  const Word* groupWord_[kGroupCount] = {};
  const Word* axisWord_[kHostAxisCount] = {};
  const Word* centreWord_[3] = {};
  const Word* radiusWord_ = nullptr;
  const Word* valueWord_[kValueCount] = {};
};

}  // namespace

bool ReadLine(int number, const std::vector<Word>& words, const std::vector<ToolEntry>& tools,
              ModalState* modal, Block* block, LineFlow* flow, std::string* error) {
  return LineReader(number, tools, modal).Read(words, block, flow, error);
}

}  // namespace torvexan::sim
