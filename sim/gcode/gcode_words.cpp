#include "sim/gcode/gcode_words.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "sim/gcode/gcode_expression.h"

namespace torvexan::sim {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Longer words are shown cut short in the report.
constexpr size_t kLongestShownWord = 48;

// The text of line from..to without blanks, for the report.
std::string Compact(std::string_view line, size_t from, size_t to) {
  std::string text;
  for (size_t i = from; i < to; ++i) {
    if (IsBlank(line[i])) continue;
    if (text.size() == kLongestShownWord) return text + "...";
    text += line[i];
  }
  return text;
}

// A plain number: optional sign, digits with one decimal point; blanks may stand between the
// letter, the sign and the digits, and inside the digits.
bool ReadNumber(std::string_view line, size_t* pos, char letter, Word* word, std::string* error) {
  // Built straight into the word's text (the letter, then the number without its blanks or a
  // plus sign): a job has millions of words.
  std::string& text = word->text;
  text.assign(1, letter);
  size_t p = *pos;
  while (p < line.size() && IsBlank(line[p])) ++p;
  if (p < line.size() && (line[p] == '+' || line[p] == '-')) {
    if (line[p] == '-') text += '-';
    ++p;
  }
  bool point = false;
  bool digits = false;
  bool malformed = false;
  const size_t start = p;
  size_t last = p;      // after the last digit or point
  bool blank = false;   // a blank after the sign
  bool inside = false;  // one between two digits (or a sign and a digit)
  for (; p < line.size(); ++p) {
    const char d = line[p];
    if (IsDigit(d)) {
      digits = true;
    } else if (d == '.') {
      malformed |= point;
      point = true;
    } else if (IsBlank(d)) {
      blank = true;
      continue;
    } else {
      break;
    }
    inside |= blank;
    last = p + 1;
  }
  if (!inside) {
    text.append(line.substr(start, last - start));
  } else {
    for (size_t i = start; i < last; ++i) {
      if (!IsBlank(line[i])) text += line[i];
    }
  }
  if (!digits) {
    *error = "'" + text + "': a word needs a number";
    *pos = p;
    return false;
  }
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data() + 1, end, value);
  if (malformed || result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) {
    *error = "'" + text + "': " + letter + " has no valid number";
    return false;
  }
  word->letter = letter;
  word->value = value;
  *pos = p;
  return true;
}

// Whether the letter before pos is followed by no digit at all (blanks and a sign aside).
bool NumberMissing(std::string_view line, size_t pos) {
  while (pos < line.size() && (IsBlank(line[pos]) || line[pos] == '+' || line[pos] == '-')) ++pos;
  return pos >= line.size() || !(IsDigit(line[pos]) || line[pos] == '.');
}

// "'WORD': why". Built by appending: GCC 12's -Wrestrict takes "'" + std::string&& for an
// overlapping copy when it inlines it for a 32-bit target.
std::string WordError(std::string_view word, std::string_view why) {
  std::string text;
  text.reserve(word.size() + why.size() + 4);
  text += '\'';
  text += word;
  text += "': ";
  text += why;
  return text;
}

// "#<index> = <value>"; pos stands on the '#'.
bool ReadAssignment(std::string_view line, size_t* pos, const Parameters& parameters,
                    Assignment* out, std::string* error) {
  const size_t start = *pos;
  size_t p = start + 1;
  double index = 0.0;
  std::string why;
  if (!ReadValue(line, &p, parameters, &index, &why) || !Parameters::Valid(index)) {
    *error = WordError(Compact(line, start, p), "no such parameter");
    return false;
  }
  while (p < line.size() && IsBlank(line[p])) ++p;
  if (p >= line.size() || line[p] != '=') {
    *error = WordError(Compact(line, start, p), "a parameter on its own needs '= value'");
    return false;
  }
  ++p;
  double value = 0.0;
  if (!ReadValue(line, &p, parameters, &value, &why)) {
    *error = WordError(Compact(line, start, p), why);
    return false;
  }
  *out = Assignment{static_cast<int>(index), value};
  *pos = p;
  return true;
}

}  // namespace

bool ReadWords(std::string_view line, const Parameters& parameters, std::vector<Word>* words,
               std::vector<Assignment>* assignments, std::string* error) {
  words->clear();
  assignments->clear();
  // A letter without its number is a typo of one word ("Y F500", "X1O Y5"): the words around
  // it are still read, so that what they set (the feed, the motion mode) is not missing on
  // the lines after it. The first such fault is the line's message.
  bool typo = false;
  size_t pos = 0;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos < line.size() && line[pos] == '/') ++pos;  // block delete is off: the line runs
  while (pos < line.size()) {
    const char c = line[pos];
    if (IsBlank(c)) {
      ++pos;
    } else if (c == ';') {
      return true;
    } else if (c == '(') {
      const size_t close = line.find(')', pos);
      if (close == std::string_view::npos) {
        *error = "comment '(' is not closed";
        return false;
      }
      pos = close + 1;
    } else if (c == '#') {
      Assignment a{};
      if (!ReadAssignment(line, &pos, parameters, &a, error)) return false;
      assignments->push_back(a);
    } else if (!std::isalpha(static_cast<unsigned char>(c))) {
      *error = std::string("unexpected character '") + c + "'";
      return false;
    } else {
      const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      ++pos;
      Word w{};
      if (!StartsComputedValue(line, pos)) {
        std::string why;
        const size_t at = pos;
        if (!ReadNumber(line, &pos, letter, &w, &why)) {
          if (!NumberMissing(line, at)) {
            *error = why;
            return false;
          }
          if (!typo) *error = why;
          typo = true;
          continue;
        }
      } else {
        const size_t start = pos;
        std::string why;
        double value = 0.0;
        const bool ok = ReadValue(line, &pos, parameters, &value, &why);
        // A word that could not be read is shown up to the next comment.
        const size_t end = ok ? pos : std::min(line.size(), line.find_first_of("(;", start));
        std::string text(1, letter);
        text += Compact(line, start, end);
        if (!ok) {
          *error = WordError(text, why);
          return false;
        }
        w = Word{letter, value, std::move(text)};
      }
      words->push_back(std::move(w));
    }
  }
  return !typo;
}

bool SplitWords(std::string_view line, std::vector<Word>* words, std::string* error) {
  static const Parameters kNone;
  std::vector<Assignment> assignments;
  return ReadWords(line, kNone, words, &assignments, error);
}

}  // namespace torvexan::sim
