#include "sim/gcode/tool_table.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "sim/gcode/gcode_words.h"

namespace torvexan::sim {
namespace {

bool ReadTool(const std::vector<Word>& words, ToolEntry* tool, std::string* why) {
  bool number = false;
  for (const Word& w : words) {
    switch (w.letter) {
      case 'T':
        if (w.value < 0.0 || w.value != std::floor(w.value)) break;
        tool->number = static_cast<int>(w.value);
        number = true;
        continue;
      case 'P':
        tool->pocket = static_cast<int>(w.value);
        continue;
      case 'D':
        if (w.value < 0.0) break;
        tool->diameter = w.value;
        continue;
      case 'Z':
        tool->length = w.value;
        continue;
      default:
        break;
    }
    *why = "'" + w.text + "': not a tool word (T, P, D, Z)";
    return false;
  }
  if (!number) *why = "a tool needs its number T";
  return number;
}

}  // namespace

bool ParseToolTable(std::string_view text, std::vector<ToolEntry>* tools, std::string* error) {
  tools->clear();
  std::vector<Word> words;
  int number = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++number;
    std::string why;
    ToolEntry tool;
    if (!SplitWords(text.substr(start, end - start), &words, &why) ||
        (!words.empty() && !ReadTool(words, &tool, &why))) {
      *error = "line " + std::to_string(number) + ": " + why;
      return false;
    }
    if (!words.empty()) tools->push_back(tool);
    start = end + 1;
  }
  return true;
}

bool LoadToolTable(const std::string& path, std::vector<ToolEntry>* tools, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open tool table " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!ParseToolTable(text.str(), tools, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace torvexan::sim
