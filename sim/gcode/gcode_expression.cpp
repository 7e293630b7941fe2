#include "sim/gcode/gcode_expression.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>

namespace torvexan::sim {
namespace {

// Angles are turned into radians and back in long double, as LinuxCNC's interpreter does:
// SIN[30] is 0.5 and TAN[45] is 1 exactly, so FIX[SIN[30] * 2] is 1 on both.
constexpr long double kPiLong = std::numbers::pi_v<long double>;

long double RadiansLong(double degrees) {
  return static_cast<long double>(degrees) * kPiLong / 180.0L;
}
double DegreesOf(long double radians) {
  return static_cast<double>(radians * 180.0L / kPiLong);
}
// Comparisons treat values closer than this as equal, as the controls do.
constexpr double kEqualTolerance = 1e-6;
// Brackets, signs and parameter references nest at most this deep (no control needs more).
constexpr int kMaxNesting = 64;

enum class Op {
  kPower,
  kTimes,
  kDivide,
  kMod,
  kPlus,
  kMinus,
  kEq,
  kNe,
  kGt,
  kGe,
  kLt,
  kLe,
  kAnd,
  kOr,
  kXor
};

struct OpName {
  const char* name;
  Op op;
  int precedence;  // higher binds tighter
};
constexpr OpName kOps[] = {
    {"**", Op::kPower, 4}, {"*", Op::kTimes, 3}, {"/", Op::kDivide, 3}, {"MOD", Op::kMod, 3},
    {"+", Op::kPlus, 2},   {"-", Op::kMinus, 2}, {"EQ", Op::kEq, 1},    {"NE", Op::kNe, 1},
    {"GT", Op::kGt, 1},    {"GE", Op::kGe, 1},   {"LT", Op::kLt, 1},    {"LE", Op::kLe, 1},
    {"AND", Op::kAnd, 0},  {"OR", Op::kOr, 0},   {"XOR", Op::kXor, 0},
};
constexpr int kLowestPrecedence = 0;
constexpr int kHighestPrecedence = 4;

const char* const kFunctions[] = {"ASIN", "ACOS", "ATAN", "SIN",   "COS", "TAN", "ABS",
                                  "SQRT", "EXP",  "LN",   "ROUND", "FIX", "FUP"};

class Evaluator {
 public:
  Evaluator(std::string_view line, size_t pos, const Parameters& p, std::string* error)
      : s_(line), pos_(pos), params_(p), error_(error) {}

  size_t pos() const { return pos_; }

  bool Value(double* v) {
    if (++depth_ > kMaxNesting) return Fail("nested too deep");
    const bool ok = NestedValue(v);
    --depth_;
    return ok;
  }

 private:
  bool NestedValue(double* v) {
    Blanks();
    if (pos_ < s_.size() && (s_[pos_] == '-' || s_[pos_] == '+')) {
      const bool negative = s_[pos_++] == '-';
      if (!Value(v)) return false;
      if (negative) *v = -*v;
      return true;
    }
    if (pos_ >= s_.size()) return Fail("a value is missing");
    const char c = s_[pos_];
    if (c == '[') return Bracketed(v);
    if (c == '#') return Parameter(v);
    if (std::isalpha(static_cast<unsigned char>(c))) return Function(v);
    return Number(v);
  }

  bool Fail(const std::string& why) {
    *error_ = why;
    return false;
  }
  void Blanks() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  bool Keyword(const char* word) {
    size_t i = 0;
    for (; word[i] != 0; ++i) {
      if (pos_ + i >= s_.size() ||
          std::toupper(static_cast<unsigned char>(s_[pos_ + i])) != word[i])
        return false;
    }
    pos_ += i;
    return true;
  }

  bool Number(double* v) {
    std::string digits;
    for (; pos_ < s_.size(); ++pos_) {
      const char c = s_[pos_];
      if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
        digits += c;
      } else if (c != ' ' && c != '\t') {
        break;
      }
    }
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), *v);
    if (digits.empty() || digits == "." || r.ec != std::errc() ||
        r.ptr != digits.data() + digits.size())
      return Fail("not a number");
    return true;
  }

  bool Bracketed(double* v) {
    ++pos_;  // '['
    if (!Binary(kLowestPrecedence, v)) return false;
    Blanks();
    if (pos_ >= s_.size() || s_[pos_] != ']') return Fail("']' missing");
    ++pos_;
    return true;
  }

  bool Parameter(double* v) {
    ++pos_;  // '#'
    double index = 0.0;
    if (!Value(&index)) return false;
    if (!Parameters::Valid(index)) return Fail("no parameter #" + Text(index));
    if (!params_.Known(static_cast<int>(index))) {
      // Appended: the 32-bit MinGW compiler warns falsely (-Wrestrict) about a literal put
      // before a temporary string.
      std::string why = "#";
      why += Text(index);
      why +=
          " holds an offset only the run knows (the machine's at the start, or one that G92 "
          "or G10 L20 set where the machine stood)";
      return Fail(why);
    }
    *v = params_.Get(static_cast<int>(index));
    return true;
  }

  bool Function(double* v) {
    const char* name = nullptr;
    for (const char* f : kFunctions) {
      if (Keyword(f)) {
        name = f;
        break;
      }
    }
    if (name == nullptr) return Fail("unknown function");
    Blanks();
    if (pos_ >= s_.size() || s_[pos_] != '[') return Fail(std::string(name) + " needs '['");
    double a = 0.0;
    if (!Bracketed(&a)) return false;
    if (std::string_view(name) == "ATAN") {
      Blanks();
      double b = 0.0;
      if (pos_ >= s_.size() || s_[pos_] != '/') return Fail("ATAN needs [y]/[x]");
      ++pos_;
      Blanks();
      if (pos_ >= s_.size() || s_[pos_] != '[') return Fail("ATAN needs [y]/[x]");
      if (!Bracketed(&b)) return false;  // its own fault, e.g. a MOD by zero
      *v = DegreesOf(std::atan2(static_cast<long double>(a), static_cast<long double>(b)));
      return true;
    }
    return Apply(name, a, v);
  }

  bool Apply(std::string_view f, double a, double* v) {
    if ((f == "ASIN" || f == "ACOS") && std::fabs(a) > 1.0)
      return Fail(std::string(f) + " of a value beyond 1");
    if (f == "SQRT" && a < 0.0) return Fail("SQRT of a negative value");
    if (f == "LN" && a <= 0.0) return Fail("LN of a value not above 0");
    if (f == "SIN")
      *v = static_cast<double>(std::sin(RadiansLong(a)));
    else if (f == "COS")
      *v = static_cast<double>(std::cos(RadiansLong(a)));
    else if (f == "TAN")
      *v = static_cast<double>(std::tan(RadiansLong(a)));
    else if (f == "ASIN")
      *v = DegreesOf(std::asin(static_cast<long double>(a)));
    else if (f == "ACOS")
      *v = DegreesOf(std::acos(static_cast<long double>(a)));
    else if (f == "ABS")
      *v = std::fabs(a);
    else if (f == "SQRT")
      *v = std::sqrt(a);
    else if (f == "EXP")
      *v = std::exp(a);
    else if (f == "LN")
      *v = std::log(a);
    else if (f == "ROUND")
      *v = std::round(a);
    else if (f == "FIX")
      *v = std::floor(a);
    else
      *v = std::ceil(a);  // FUP
    return true;
  }

  const OpName* PeekOp() {
    Blanks();
    for (const OpName& o : kOps) {
      const size_t n = std::char_traits<char>::length(o.name);
      if (s_.size() - pos_ < n) continue;
      bool same = true;
      for (size_t i = 0; i < n; ++i)
        same &= std::toupper(static_cast<unsigned char>(s_[pos_ + i])) == o.name[i];
      if (same && !(o.op == Op::kTimes && n == 1 && s_.substr(pos_, 2) == "**")) return &o;
    }
    return nullptr;
  }

  // Precedence climbing: operands of this level joined by its operators, left to right.
  bool Binary(int level, double* v) {
    if (level > kHighestPrecedence) return Value(v);
    if (!Binary(level + 1, v)) return false;
    for (;;) {
      const OpName* o = PeekOp();
      if (o == nullptr || o->precedence != level) return true;
      pos_ += std::char_traits<char>::length(o->name);
      double right = 0.0;
      if (!Binary(level + 1, &right)) return false;
      if (!Combine(o->op, right, v)) return false;
    }
  }

  bool Combine(Op op, double b, double* a) {
    const double x = *a;
    switch (op) {
      case Op::kPower:
        if (x < 0.0 && b != std::floor(b)) return Fail("negative value to a fractional power");
        *a = std::pow(x, b);
        break;
      case Op::kTimes:
        *a = x * b;
        break;
      case Op::kDivide:
        if (b == 0.0) return Fail("division by zero");
        *a = x / b;
        break;
      case Op::kMod:
        // The remainder takes the sign of neither: never negative, as LinuxCNC keeps it
        // ([5 MOD -3] is 2, [-5 MOD 3] is 1), and of the values as stored ([1 MOD 0.1] is
        // just under 0.1, for 0.1 is stored a hair above it).
        if (b == 0.0) return Fail("MOD by zero");
        *a = std::fmod(x, b);
        if (*a < 0.0) *a += std::fabs(b);
        break;
      case Op::kPlus:
        *a = x + b;
        break;
      case Op::kMinus:
        *a = x - b;
        break;
      case Op::kEq:
        *a = std::fabs(x - b) < kEqualTolerance;
        break;
      case Op::kNe:
        *a = std::fabs(x - b) >= kEqualTolerance;
        break;
      case Op::kGt:
        *a = x > b;
        break;
      case Op::kGe:
        *a = x >= b;
        break;
      case Op::kLt:
        *a = x < b;
        break;
      case Op::kLe:
        *a = x <= b;
        break;
      case Op::kAnd:
        *a = x != 0.0 && b != 0.0;
        break;
      case Op::kOr:
        *a = x != 0.0 || b != 0.0;
        break;
      case Op::kXor:
        *a = (x != 0.0) != (b != 0.0);
        break;
    }
    return std::isfinite(*a) || Fail("the result is not a finite number");
  }

  static std::string Text(double v) {
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, r.ptr);
  }

  std::string_view s_;
  size_t pos_;
  const Parameters& params_;
  std::string* error_;
  int depth_ = 0;
};

}  // namespace

bool ReadValue(std::string_view line, size_t* pos, const Parameters& parameters, double* value,
               std::string* error) {
  Evaluator e(line, *pos, parameters, error);
  if (!e.Value(value)) return false;
  *pos = e.pos();
  return true;
}

bool StartsComputedValue(std::string_view line, size_t pos) {
  while (pos < line.size() &&
         (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '-' || line[pos] == '+'))
    ++pos;
  if (pos >= line.size()) return false;
  if (line[pos] == '[' || line[pos] == '#') return true;
  if (!std::isalpha(static_cast<unsigned char>(line[pos]))) return false;  // a plain number
  // A letter starts a value only as a function's name with its '[': "Y F500" is a Y without
  // its number, followed by a feed.
  for (const char* f : kFunctions) {
    const size_t n = std::char_traits<char>::length(f);
    if (line.size() - pos < n) continue;
    bool same = true;
    for (size_t i = 0; i < n; ++i)
      same &= std::toupper(static_cast<unsigned char>(line[pos + i])) == f[i];
    if (!same) continue;
    size_t after = pos + n;
    while (after < line.size() && (line[after] == ' ' || line[after] == '\t')) ++after;
    if (after < line.size() && line[after] == '[') return true;
  }
  return false;
}

}  // namespace torvexan::sim
