#include "sim/host/gcode_words.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace torvexan::sim {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

bool SplitWords(std::string_view line, std::vector<Word>* words, std::string* error) {
  words->clear();
  size_t pos = 0;
  while (pos < line.size()) {
    const char c = line[pos];
    if (IsBlank(c)) {
      ++pos;
      continue;
    }
    if (c == ';') return true;
    if (c == '(') {
      const size_t close = line.find(')', pos);
      if (close == std::string_view::npos) {
        *error = "comment '(' is not closed";
        return false;
      }
      pos = close + 1;
      continue;
    }
    if (!std::isalpha(static_cast<unsigned char>(c))) {
      *error = std::string("unexpected character '") + c + "'";
      return false;
    }
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ++pos;
    // The number: optional sign, digits with one decimal point; blanks may stand between
    // the letter, the sign and the digits, and inside the digits.
    std::string number;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos < line.size() && (line[pos] == '+' || line[pos] == '-')) {
      if (line[pos] == '-') number += '-';
      ++pos;
    }
    bool point = false;
    bool digits = false;
    bool malformed = false;
    for (; pos < line.size(); ++pos) {
      const char d = line[pos];
      if (IsDigit(d)) {
        digits = true;
        number += d;
      } else if (d == '.') {
        malformed |= point;
        point = true;
        number += d;
      } else if (!IsBlank(d)) {
        break;
      }
    }
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    const std::string text = std::string(1, letter) + number;
    if (!digits || malformed || result.ec != std::errc() ||
        result.ptr != number.data() + number.size() || !std::isfinite(value)) {
      *error = "'" + text + "': " + letter + " has no valid number";
      return false;
    }
    words->push_back(Word{letter, value, text});
  }
  return true;
}

}  // namespace torvexan::sim
