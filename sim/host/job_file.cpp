#include "sim/host/job_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

#include "sim/host/machine_setup.h"

namespace torvexan::sim {
namespace {

enum class Motion { kNone, kRapid, kFeed };

// What one line asks for, before it is checked against the modal state.
struct LineWords {
  bool hasAxis[kHostAxisCount] = {};
  double axis[kHostAxisCount] = {};
  bool hasMotion = false;
  Motion motion = Motion::kNone;
  bool dwell = false;
  bool hasFeed = false;
  double feed = 0.0;
  bool hasP = false;
  double p = 0.0;
  bool end = false;
};

// Modal values that carry over from line to line.
struct ModalState {
  Motion motion = Motion::kNone;
  double feed = 0.0;
  bool feedSet = false;
  double position[kHostAxisCount] = {};
  bool ended = false;
};

class LineParser {
 public:
  LineParser(std::string_view line, int number, std::vector<JobError>* errors)
      : line_(line), number_(number), errors_(errors) {}

  // Splits the line into words; false after reporting the first bad one.
  bool Parse(LineWords* words) {
    while (pos_ < line_.size()) {
      const char c = line_[pos_];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == ';') {
        return true;
      } else if (c == '(') {
        const size_t close = line_.find(')', pos_);
        if (close == std::string_view::npos) return Fail("comment '(' is not closed");
        pos_ = close + 1;
      } else if (std::isalpha(static_cast<unsigned char>(c))) {
        if (!Word(words)) return false;
      } else {
        return Fail(std::string("unexpected character '") + c + "'");
      }
    }
    return true;
  }

 private:
  bool Fail(std::string message) {
    errors_->push_back(JobError{number_, std::move(message)});
    return false;
  }

  bool Number(char letter, double* value) {
    size_t start = pos_;
    while (start < line_.size() && line_[start] == ' ') ++start;
    size_t end = start;
    if (end < line_.size() && (line_[end] == '+' || line_[end] == '-')) ++end;
    while (end < line_.size() &&
           (std::isdigit(static_cast<unsigned char>(line_[end])) || line_[end] == '.')) {
      ++end;
    }
    // from_chars takes no leading '+'.
    const size_t digits = (start < end && line_[start] == '+') ? start + 1 : start;
    const auto result = std::from_chars(line_.data() + digits, line_.data() + end, *value);
    if (digits == end || result.ec != std::errc() || result.ptr != line_.data() + end ||
        !std::isfinite(*value)) {
      return Fail(std::string("word '") + letter + "' has no valid number");
    }
    pos_ = end;
    return true;
  }

  bool Word(LineWords* w) {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(line_[pos_])));
    ++pos_;
    double value = 0.0;
    if (!Number(letter, &value)) return false;
    const int axis = AxisIndex(letter);
    if (axis >= 0) {
      if (w->hasAxis[axis]) return Fail(std::string("axis ") + letter + " given twice");
      w->hasAxis[axis] = true;
      w->axis[axis] = value;
      return true;
    }
    switch (letter) {
      case 'G':
        return GCode(value, w);
      case 'M':
        if (value == 2 || value == 30) {
          w->end = true;
          return true;
        }
        return Fail("unsupported M-code M" + Text(value));
      case 'F':
        if (!(value > 0.0)) return Fail("feed rate F must be positive");
        w->hasFeed = true;
        w->feed = value;
        return true;
      case 'P':
        if (value < 0.0) return Fail("dwell time P must not be negative");
        w->hasP = true;
        w->p = value;
        return true;
      case 'N':
        return true;  // block numbers are only labels
      default:
        return Fail(std::string("unknown word '") + letter + Text(value) + "'");
    }
  }

  bool GCode(double value, LineWords* w) {
    if (value == 0 || value == 1) {
      if (w->hasMotion || w->dwell) return Fail("more than one motion on one line");
      w->hasMotion = true;
      w->motion = value == 0 ? Motion::kRapid : Motion::kFeed;
      return true;
    }
    if (value == 4) {
      if (w->hasMotion || w->dwell) return Fail("more than one motion on one line");
      w->dwell = true;
      return true;
    }
    if (value == 91) return Fail("G91 (incremental) is not supported; coordinates are absolute");
    if (value == 17 || value == 21 || value == 90 || value == 94) return true;
    return Fail("unsupported G-code G" + Text(value));
  }

  static std::string Text(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
  }

  std::string_view line_;
  int number_;
  std::vector<JobError>* errors_;
  size_t pos_ = 0;
};

bool AnyAxis(const LineWords& w) {
  for (bool has : w.hasAxis) {
    if (has) return true;
  }
  return false;
}

// Turns the words of one line into job steps under the modal state.
void ApplyLine(const LineWords& w, int number, ModalState* modal, Job* job) {
  auto fail = [&](const char* message) { job->errors.push_back(JobError{number, message}); };
  if (w.hasP && !w.dwell) return fail("P without G4");
  if (w.dwell) {
    if (AnyAxis(w)) return fail("G4 takes no axis words");
    if (!w.hasP) return fail("G4 without a dwell time P (seconds)");
  }
  if (w.hasMotion) modal->motion = w.motion;
  if (w.hasFeed) {
    modal->feed = w.feed;
    modal->feedSet = true;
  }
  if (w.dwell) {
    JobStep step{JobStep::Kind::kDwell, number, false, {}, 0.0, w.p};
    std::copy(std::begin(modal->position), std::end(modal->position), step.target);
    job->steps.push_back(step);
  } else if (AnyAxis(w)) {
    if (modal->motion == Motion::kNone) return fail("axis words without G0 or G1");
    if (modal->motion == Motion::kFeed && !modal->feedSet) return fail("G1 without a feed rate F");
    for (int a = 0; a < kHostAxisCount; ++a) {
      if (w.hasAxis[a]) modal->position[a] = w.axis[a];
    }
    JobStep step{JobStep::Kind::kMove, number, modal->motion == Motion::kRapid, {},
                 modal->feed,          0.0};
    std::copy(std::begin(modal->position), std::end(modal->position), step.target);
    job->steps.push_back(step);
  }
  if (w.end) modal->ended = true;
}

}  // namespace

Job ParseJob(std::string_view text) {
  Job job;
  ModalState modal;
  int number = 0;
  size_t start = 0;
  while (start <= text.size() && !modal.ended) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number;
    // A line of '%' marks the start or end of a program on tape; it carries nothing.
    if (line.find_first_not_of(" \t") != std::string_view::npos && line.front() != '%') {
      LineWords words;
      if (LineParser(line, number, &job.errors).Parse(&words)) {
        ApplyLine(words, number, &modal, &job);
      }
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  return job;
}

bool LoadJobFile(const std::string& path, Job* job, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open job file " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  *job = ParseJob(text.str());
  return true;
}

std::string FormatJobError(const std::string& fileName, const JobError& error) {
  return fileName + ":" + std::to_string(error.line) + ": " + error.message;
}

}  // namespace torvexan::sim
