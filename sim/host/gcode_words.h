// The words of one G-code line: a letter (either case) and a number, with or without blanks
// between them and between words ("g2x10y-10i10", "G 1 X 10"), comments in parentheses and
// after ';' left out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace torvexan::sim {

struct Word {
  char letter;  // upper case
  double value;
  std::string text;  // as it reads in the report: letter and number without blanks ("G2")
};

// Splits line into words. False, with the reason in *error (which names the word or
// character), on a comment left open, a stray character or a letter without a valid number.
bool SplitWords(std::string_view line, std::vector<Word>* words, std::string* error);

}  // namespace torvexan::sim
