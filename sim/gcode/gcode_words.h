// The words of one G-code line: a letter (either case) and a number, with or without blanks
// between them and between words ("g2x10y-10i10", "G 1 X 10"), comments in parentheses and
// after ';' left out. A value may be computed: a parameter (#3), a bracketed expression or a
// function ("X[#1 * 2]", "Y-#2", "Z SIN[30]"); "#5 = value" sets a parameter once the whole
// line has been read, so every word of the line sees the values from before it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/gcode/gcode_parameters.h"

namespace torvexan::sim {

struct Word {
  char letter;  // upper case
  double value;
  std::string text;  // as it reads in the report: letter and number without blanks ("G2")
};

struct Assignment {
  int index;
  double value;
};

// Splits line into words, computing their values from parameters. False, with the reason in
// *error (which names the word or character), on a comment left open, a stray character, a
// letter without a valid value or an expression that cannot be computed. *words holds the
// words read up to the fault; after a letter with no number at all ("'Y': a word needs a
// number") the rest of the line is read too.
bool ReadWords(std::string_view line, const Parameters& parameters, std::vector<Word>* words,
               std::vector<Assignment>* assignments, std::string* error);

// Splits line into words. False, with the reason in *error (which names the word or
// character), on a comment left open, a stray character or a letter without a valid number.
bool SplitWords(std::string_view line, std::vector<Word>* words, std::string* error);

}  // namespace torvexan::sim
