#include "tools/torvexan-sim/card_process.h"

#include <algorithm>
#include <cctype>

namespace torvexan::sim {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The first number in text[from, to) that stands as a number of its own.
std::optional<long long> FirstNumber(const std::string& text, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i]))) {
      // Skip digits that belong to a word such as "lorn5".
      if (i > 0 && std::isalpha(static_cast<unsigned char>(text[i - 1]))) {
        while (i < to && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        continue;
      }
      return std::stoll(text.substr(i, 18));
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<long long> CardFigure(const std::string& output, const std::string& name) {
  const std::string key = Lower(name);
  std::optional<long long> found;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = Lower(output.substr(start, end - start));
    const size_t at = line.find(key);
    if (at != std::string::npos) {
      std::optional<long long> value = FirstNumber(line, at + key.size(), line.size());
      if (!value) value = FirstNumber(line, 0, at);
      if (value) found = value;
    }
    start = end + 1;
  }
  return found;
}

}  // namespace torvexan::sim
