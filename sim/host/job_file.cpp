#include "sim/host/job_file.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "sim/host/gcode_words.h"
#include "sim/host/job_text.h"
#include "sim/host/machine_setup.h"

namespace torvexan::sim {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr int kFirstUserCode = 101;
constexpr int kLastUserCode = 227;

// Modal groups: two words of one group on one line contradict each other.
enum Group {
  kGroupMotion,
  kGroupPlane,
  kGroupUnits,
  kGroupDistance,
  kGroupFeedMode,
  kGroupPath,
  kGroupCutterComp,
  kGroupToolLength,
  kGroupCoordinates,
  kGroupNonModal,
  kGroupStop,
  kGroupSpindle,
  kGroupUser,
  kGroupCount
};

// Modal values that carry over from line to line.
struct ModalState {
  Plane plane = Plane::kXY;
  bool inches = false;
  bool incremental = false;
  bool exactStop = false;
  double feedPerMinute = 0.0;  // mm per minute
  MotionMode motion = MotionMode::kNone;
};

// G-codes in tenths, so that G28.1 and G38.2 are whole numbers.
int Tenths(double value) {
  return static_cast<int>(std::lround(value * 10.0));
}

class LineReader {
 public:
  LineReader(int number, ModalState* modal) : number_(number), modal_(*modal), out_(modal) {}

  // Reads the words into a block; false with the reason in *error. The modal state changes
  // only when the whole line is good.
  bool Read(const std::vector<Word>& words, Block* block, std::string* error) {
    error_ = error;
    block->line = number_;
    for (const Word& w : words) {
      if (!Take(w, block)) return false;
    }
    if (!Settle(block)) return false;
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

  bool Take(const Word& w, Block* b) {
    const int axis = AxisIndex(w.letter);
    if (axis >= 0) return Once(w, axisWord_[axis]);
    switch (w.letter) {
      case 'G':
        return GCode(w);
      case 'M':
        return MCode(w, b);
      case 'F':
        if (!(w.value > 0.0)) return Fail(w, "feed rate F must be positive");
        return Once(w, feedWord_);
      case 'S':
        if (w.value < 0.0) return Fail(w, "spindle speed S must not be negative");
        return Once(w, speedWord_);
      case 'P':
        if (w.value < 0.0) return Fail(w, "dwell time P must not be negative");
        return Once(w, pWord_);
      case 'I':
        return Once(w, centreWord_[0]);
      case 'J':
        return Once(w, centreWord_[1]);
      case 'K':
        return Once(w, centreWord_[2]);
      case 'R':
        return Once(w, radiusWord_);
      case 'N':
        return true;  // block numbers are only labels
      default:
        return Fail(w, "unknown word");
    }
  }

  bool GCode(const Word& w) {
    struct Known {
      int tenths;
      Group group;
    };
    static constexpr Known kKnown[] = {
        {0, kGroupMotion},        {10, kGroupMotion},      {20, kGroupMotion},
        {30, kGroupMotion},       {382, kGroupMotion},     {800, kGroupMotion},
        {170, kGroupPlane},       {180, kGroupPlane},      {190, kGroupPlane},
        {200, kGroupUnits},       {210, kGroupUnits},      {900, kGroupDistance},
        {910, kGroupDistance},    {940, kGroupFeedMode},   {610, kGroupPath},
        {640, kGroupPath},        {400, kGroupCutterComp}, {490, kGroupToolLength},
        {540, kGroupCoordinates}, {40, kGroupNonModal},    {280, kGroupNonModal},
        {281, kGroupNonModal},    {920, kGroupNonModal},
    };
    const int code = Tenths(w.value);
    if (std::fabs(w.value * 10.0 - code) < 1e-6) {
      for (const Known& k : kKnown) {
        if (k.tenths == code) return Claim(w, k.group);
      }
    }
    return Fail(w, "unsupported G-code");
  }

  bool MCode(const Word& w, Block* b) {
    const double v = w.value;
    const int code = static_cast<int>(v);
    if (v != code) return Fail(w, "unsupported M-code");
    if (code == 0 || code == 1 || code == 2 || code == 30) {
      if (!Claim(w, kGroupStop)) return false;
      b->stop = code == 0   ? ProgramStop::kPause
                : code == 1 ? ProgramStop::kOptionalPause
                            : ProgramStop::kEnd;
      return true;
    }
    if (code >= 3 && code <= 5) {
      if (!Claim(w, kGroupSpindle)) return false;
      b->spindle = code == 3   ? SpindleTurn::kClockwise
                   : code == 4 ? SpindleTurn::kCounterClockwise
                               : SpindleTurn::kStop;
      return true;
    }
    if (code >= kFirstUserCode && code <= kLastUserCode) {
      if (!Claim(w, kGroupUser)) return false;
      b->userCode = code;
      return true;
    }
    return Fail(w, "unsupported M-code");
  }

  int GroupCode(Group g) const {
    return groupWord_[g] != nullptr ? Tenths(groupWord_[g]->value) : -1;
  }

  // Applies the modal words and checks that the line's words fit together.
  bool Settle(Block* b) {
    switch (GroupCode(kGroupPlane)) {
      case 170:
        modal_.plane = Plane::kXY;
        break;
      case 180:
        modal_.plane = Plane::kZX;
        break;
      case 190:
        modal_.plane = Plane::kYZ;
        break;
      default:
        break;
    }
    if (GroupCode(kGroupUnits) >= 0) modal_.inches = GroupCode(kGroupUnits) == 200;
    if (GroupCode(kGroupDistance) >= 0) modal_.incremental = GroupCode(kGroupDistance) == 910;
    if (GroupCode(kGroupPath) >= 0) modal_.exactStop = GroupCode(kGroupPath) == 610;
    const double scale = modal_.inches ? kMmPerInch : 1.0;
    if (feedWord_ != nullptr) modal_.feedPerMinute = feedWord_->value * scale;
    if (speedWord_ != nullptr) {
      b->hasSpeed = true;
      b->speed = speedWord_->value;
    }

    bool anyAxis = false;
    for (int a = 0; a < kHostAxisCount; ++a) {
      if (axisWord_[a] == nullptr) continue;
      anyAxis = true;
      b->hasAxis[a] = true;
      // X, Y and Z are lengths; A, B and C are degrees whatever the units.
      b->axis[a] = axisWord_[a]->value * (a < 3 ? scale : 1.0);
    }
    bool anyCentre = false;
    for (int i = 0; i < 3; ++i) {
      if (centreWord_[i] == nullptr) continue;
      anyCentre = true;
      b->hasCentre[i] = true;
      b->centre[i] = centreWord_[i]->value * scale;
    }
    if (radiusWord_ != nullptr) {
      b->hasRadius = true;
      b->radius = radiusWord_->value * scale;
    }

    const Word* nonModal = groupWord_[kGroupNonModal];
    switch (GroupCode(kGroupNonModal)) {
      case 40:
        b->nonModal = NonModal::kDwell;
        break;
      case 280:
        b->nonModal = NonModal::kReturnToZero;
        break;
      case 281:
        b->nonModal = NonModal::kReference;
        break;
      case 920:
        b->nonModal = NonModal::kSetOffset;
        break;
      default:
        break;
    }
    if (pWord_ != nullptr && b->nonModal != NonModal::kDwell) {
      return Fail(*pWord_, "P only goes with G4");
    }
    if (b->nonModal == NonModal::kDwell) {
      if (pWord_ == nullptr) return Fail(*nonModal, "G4 without a dwell time P (seconds)");
      b->dwellSeconds = pWord_->value;
    }
    const bool nonModalTakesAxes = b->nonModal == NonModal::kReference ||
                                   b->nonModal == NonModal::kReturnToZero ||
                                   b->nonModal == NonModal::kSetOffset;
    if ((b->nonModal == NonModal::kReference || b->nonModal == NonModal::kSetOffset) && !anyAxis) {
      return Fail(*nonModal, "needs axis words naming the axes");
    }

    const Word* motionWord = groupWord_[kGroupMotion];
    if (motionWord != nullptr) {
      switch (GroupCode(kGroupMotion)) {
        case 0:
          modal_.motion = MotionMode::kRapid;
          break;
        case 10:
          modal_.motion = MotionMode::kFeed;
          break;
        case 20:
          modal_.motion = MotionMode::kArcCw;
          break;
        case 30:
          modal_.motion = MotionMode::kArcCcw;
          break;
        case 382:
          modal_.motion = MotionMode::kProbe;
          break;
        default:
          modal_.motion = MotionMode::kNone;
          break;  // G80
      }
    }
    if (nonModalTakesAxes && anyAxis && motionWord != nullptr) {
      return Fail(*motionWord,
                  "on one line with '" + nonModal->text + "', which takes the axis words");
    }
    if (b->nonModal == NonModal::kDwell && anyAxis)
      return Fail(*nonModal, "G4 takes no axis words");
    const bool arc = modal_.motion == MotionMode::kArcCw || modal_.motion == MotionMode::kArcCcw;
    b->moves = !nonModalTakesAxes && (anyAxis || (motionWord != nullptr && arc && anyCentre));
    if ((anyCentre || radiusWord_ != nullptr) && !(b->moves && arc)) {
      const Word* w = radiusWord_ != nullptr ? radiusWord_ : FirstCentreWord();
      return Fail(*w, "centre and radius words only go with an arc (G2, G3) that moves");
    }
    if (b->moves) {
      if (modal_.motion == MotionMode::kNone) {
        return Fail("axis words without a motion mode (G0, G1, G2, G3, G38.2)");
      }
      if (modal_.motion != MotionMode::kRapid && modal_.feedPerMinute <= 0.0) {
        return Fail("feed move without a feed rate F");
      }
      if (arc && !CheckArcWords(*b)) return false;
    }

    b->plane = modal_.plane;
    b->incremental = modal_.incremental;
    b->exactStop = modal_.exactStop;
    b->feedPerMinute = modal_.feedPerMinute;
    b->motion = modal_.motion;
    return true;
  }

  const Word* FirstCentreWord() const {
    for (const Word* w : centreWord_) {
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
  ModalState modal_;  // a working copy, written back when the line is good
  ModalState* out_;
  std::string* error_ = nullptr;
  const Word* groupWord_[kGroupCount] = {};
  const Word* axisWord_[kHostAxisCount] = {};
  const Word* centreWord_[3] = {};
  const Word* radiusWord_ = nullptr;
  const Word* feedWord_ = nullptr;
  const Word* speedWord_ = nullptr;
  const Word* pWord_ = nullptr;
};

}  // namespace

Job ParseJob(std::string_view text) {
  Job job;
  ModalState modal;
  std::vector<Word> words;
  int number = 0;
  size_t start = 0;
  bool ended = false;
  while (start <= text.size() && !ended) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    ++number;
    const size_t first = line.find_first_not_of(" \t\r");
    // A line of '%' marks the start or end of a program on tape; it carries nothing.
    if (first != std::string_view::npos && line[first] != '%') {
      std::string error;
      Block block;
      if (SplitWords(line, &words, &error) &&
          LineReader(number, &modal).Read(words, &block, &error)) {
        ended = block.stop == ProgramStop::kEnd;
        job.blocks.push_back(block);
      } else {
        job.errors.push_back(JobError{number, error});
      }
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  return job;
}

bool LoadJobFile(const std::string& path, Job* job, std::string* error) {
  std::string text;
  if (!ReadJobText(path, &text, error)) return false;
  *job = ParseJob(text);
  return true;
}

std::string FormatJobError(const std::string& fileName, const JobError& error) {
  return PrintableText(fileName + ":" + std::to_string(error.line) + ": " + error.message);
}

}  // namespace torvexan::sim
