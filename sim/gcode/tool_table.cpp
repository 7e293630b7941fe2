#include "sim/gcode/tool_table.h"

#include <cmath>
#include <fstream>
#include <map>
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
        if (w.value < 0.0 || w.value != std::floor(w.value)) {
          *why = "'" + w.text + "': a pocket is a whole number from 0";
          return false;
        }
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
  std::map<int, int> firstLine;  // tool number: the line it is on
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
    if (!words.empty()) {
      const auto same = firstLine.find(tool.number);
      if (same != firstLine.end()) {
        *error = "line " + std::to_string(number) + ": tool T" + std::to_string(tool.number) +
                 " is on line " + std::to_string(same->second) + " already";
        return false;
      }
      firstLine.emplace(tool.number, number);
      tools->push_back(tool);
    }
    start = end + 1;
  }
  return true;
}

void SetToolEntry(std::vector<ToolEntry>* tools, int number, const double* radius,
                  const double* length) {
  ToolEntry* entry = nullptr;
  for (ToolEntry& t : *tools) {
    if (t.number == number) entry = &t;
  }
  if (entry == nullptr) {
    tools->push_back(ToolEntry{number, number, 0.0, 0.0});
    entry = &tools->back();
  }
  if (radius != nullptr) entry->diameter = 2.0 * *radius;
  if (length != nullptr) entry->length = *length;
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
