// The text of a generated program rewritten the way CAM posts and hand editors write the
// same blocks: block numbers, lower case, no blanks ("g01x1.y2."), two-digit codes ("G01",
// "M03", "T01"), numbers without needless digits (".5", "1.") or with a plus sign ("+1."),
// "%" tape marks and an "O" program number around the program, comments in parentheses on
// their own lines and after ';', and block-delete slashes. The moves stay the same.
#pragma once

#include <random>
#include <string>

namespace torvexan::gcodediff {

// The program in a style drawn from rng: each program gets one post's habits, as a file
// from one CAM post would.
std::string PostStyle(const std::string& text, std::mt19937_64& rng);

}  // namespace torvexan::gcodediff
