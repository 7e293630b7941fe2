#include "tools/gcode-diff/post_style.h"

#include <cctype>
#include <sstream>
#include <vector>

namespace torvexan::gcodediff {
namespace {

constexpr int kLargestProgramNumber = 999;  // "O0001" .. "O0999": clear of subprogram numbers

bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
bool IsLetter(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// One post's habits.
struct Style {
  bool percent = false;        // "%" first and last
  bool programNumber = false;  // "O0123 (NAME)" at the top
  int numberStep = 0;          // N words counting by this; 0 for none
  bool paddedNumbers = false;  // "N0010"
  bool lowerCase = false;
  bool noBlanks = false;
  bool twoDigitCodes = false;  // "G01", "M03", "T01"
  bool trimNumbers = false;    // "1." and ".5" for "1.0000" and "0.5000"
  bool plusSign = false;       // "X+1." on positive axis words
  double parenComments = 0.0;  // chance of a comment line before a block
  double semicolonComments = 0.0;
  double blockDelete = 0.0;  // chance of a leading '/' (block delete off: the line runs)
};

// A number as written after a letter: sign, digits and point.
std::string Reformat(const std::string& number, char letter, const Style& s) {
  std::string sign, whole, fraction;
  size_t i = 0;
  if (i < number.size() && (number[i] == '-' || number[i] == '+')) sign = number[i++];
  while (i < number.size() && IsDigit(number[i])) whole += number[i++];
  const bool point = i < number.size() && number[i] == '.';
  if (point) fraction = number.substr(i + 1);
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  const bool code = upper == 'G' || upper == 'M' || upper == 'T' || upper == 'H' || upper == 'D';
  if (code) {
    // G91.1, G38.2: only the whole part gets its leading zero.
    if (s.twoDigitCodes && whole.size() == 1) whole = "0" + whole;
    return sign + whole + (point ? "." + fraction : "");
  }
  if (s.trimNumbers && point) {
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (whole == "0" && !fraction.empty()) whole.clear();
    if (whole.empty() && fraction.empty()) whole = "0";
  }
  const bool axis = std::string("XYZABCIJKR").find(upper) != std::string::npos;
  if (s.plusSign && axis && sign.empty()) {
    bool nonZero = false;
    for (char c : whole + fraction) nonZero |= c != '0';
    if (nonZero) sign = "+";
  }
  return sign + whole + (point ? "." + fraction : "");
}

// The words of one line rewritten; comments and expressions in brackets stay as they are.
std::string Words(const std::string& line, const Style& s) {
  std::string out;
  int depth = 0;
  for (size_t i = 0; i < line.size();) {
    const char c = line[i];
    if (c == '(') {
      const size_t close = line.find(')', i);
      const size_t end = close == std::string::npos ? line.size() : close + 1;
      out += line.substr(i, end - i);
      i = end;
      continue;
    }
    if (c == '[') ++depth;
    if (c == ']') --depth;
    const bool word = depth == 0 && IsLetter(c) && (i == 0 || !IsLetter(line[i - 1])) &&
                      i + 1 < line.size() &&
                      (IsDigit(line[i + 1]) || line[i + 1] == '-' || line[i + 1] == '.');
    if (!word) {
      out += c;
      ++i;
      continue;
    }
    size_t j = i + 1;
    if (line[j] == '-') ++j;
    while (j < line.size() && (IsDigit(line[j]) || line[j] == '.')) ++j;
    out += c;
    out += Reformat(line.substr(i + 1, j - i - 1), c, s);
    i = j;
  }
  return out;
}

bool Computed(const std::string& line) {
  return line.find_first_of("[#") != std::string::npos;
}

class Post {
 public:
  Post(const Style& s, std::mt19937_64& rng) : s_(s), rng_(rng) {}

  std::string Write(const std::string& text) {
    if (s_.percent) out_ += "%\n";
    if (s_.programNumber) {
      char header[64];
      std::snprintf(header, sizeof header, "O%04d (GENERATED PART)", Int(1, kLargestProgramNumber));
      Emit(header, false);
    }
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) Block(line);
    if (s_.percent) out_ += "%\n";
    return std::move(out_);
  }

 private:
  double Uniform() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_); }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  void Block(const std::string& line) {
    // A subprogram's O line starts its line: no block number, no slash.
    const bool label = !line.empty() && (line[0] == 'O' || line[0] == 'o');
    if (!label && Uniform() < s_.parenComments)
      Emit("(OPERATION " + std::to_string(++notes_) + ")", true);
    std::string l = Words(line, s_);
    if (s_.noBlanks && !Computed(l)) {
      std::string packed;
      for (char c : l) {
        if (c != ' ') packed += c;
      }
      l = packed;
    }
    if (!label && Uniform() < s_.semicolonComments) l += " ; note " + std::to_string(++notes_);
    if (!label && Uniform() < s_.blockDelete) l = "/" + l;
    Emit(l, !label);
  }

  void Emit(std::string l, bool numbered) {
    if (s_.lowerCase) {
      for (char& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (numbered && s_.numberStep > 0) {
      block_ += s_.numberStep;
      char n[32];
      std::snprintf(n, sizeof n, s_.paddedNumbers ? "N%04d" : "N%d", block_);
      // After a block-delete slash, as posts write it.
      const bool slash = !l.empty() && l[0] == '/';
      l = slash ? "/" + std::string(n) + (s_.noBlanks ? "" : " ") + l.substr(1)
                : std::string(n) + (s_.noBlanks ? "" : " ") + l;
    }
    out_ += l + "\n";
  }

  Style s_;
  std::mt19937_64& rng_;
  std::string out_;
  int block_ = 0;
  int notes_ = 0;
};

}  // namespace

std::string PostStyle(const std::string& text, std::mt19937_64& rng) {
  const auto chance = [&rng](double p) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p;
  };
  Style s;
  s.percent = chance(0.5);
  s.programNumber = chance(0.4);
  static constexpr int kSteps[] = {0, 1, 2, 5, 10};
  s.numberStep = kSteps[std::uniform_int_distribution<int>(0, 4)(rng)];
  s.paddedNumbers = chance(0.3);
  s.lowerCase = chance(0.3);
  s.noBlanks = chance(0.4);
  s.twoDigitCodes = chance(0.5);
  s.trimNumbers = chance(0.6);
  s.plusSign = chance(0.15);
  s.parenComments = chance(0.5) ? 0.1 : 0.0;
  s.semicolonComments = chance(0.3) ? 0.1 : 0.0;
  s.blockDelete = chance(0.2) ? 0.05 : 0.0;
  return Post(s, rng).Write(text);
}

}  // namespace torvexan::gcodediff
