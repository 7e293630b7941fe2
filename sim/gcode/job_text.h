// Reads a job file's text with bounds a G-code file never reaches, so that a directory, a
// device or a binary file ends in a clear message instead of a parse of garbage or an
// allocation without end.
#pragma once

#include <string>

namespace torvexan::sim {

inline constexpr size_t kLongestJobLine = 64 * 1024;          // bytes
inline constexpr size_t kLargestJobFile = 256 * 1024 * 1024;  // bytes
inline constexpr int kMostControlLines = 3;  // lines with control bytes before it is not text

// The whole text of a job file; false, with the reason, when it is no G-code text. A byte-order
// mark is left out; text in UTF-16 (Notepad's "Unicode") is read into UTF-8.
bool ReadJobText(const std::string& path, std::string* text, std::string* error);

// Text that is safe on a terminal: control bytes and bytes outside ASCII as \xNN.
std::string PrintableText(const std::string& text);

}  // namespace torvexan::sim
