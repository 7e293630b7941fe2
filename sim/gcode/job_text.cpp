#include "sim/gcode/job_text.h"

#include <cstdio>
#include <filesystem>

namespace torvexan::sim {
namespace {

constexpr size_t kReadChunk = 64 * 1024;

bool IsControl(unsigned char c) {
  return (c < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f') || c == 0x7F;
}

// Watches the text as it arrives: how long the current line is, and which lines carry
// control bytes that G-code never holds.
class TextWatch {
 public:
  // False, with the reason, once the text cannot be G-code.
  bool Take(const char* bytes, size_t n, std::string* error) {
    for (size_t i = 0; i < n; ++i) {
      const unsigned char c = static_cast<unsigned char>(bytes[i]);
      if (c == '\n') {
        ++line_;
        length_ = 0;
        controlSeen_ = false;
        continue;
      }
      if (++length_ > kLongestJobLine) {
        // Built by appending: GCC 12 warns falsely (-Wrestrict) about a literal put in front
        // of a temporary string.
        *error = "line ";
        *error += std::to_string(line_) + " is longer than " +
                  std::to_string(kLongestJobLine / 1024) + " KiB: not a G-code file";
        return false;
      }
      if (IsControl(c) && !controlSeen_) {
        controlSeen_ = true;
        if (++controlLines_ >= kMostControlLines) {
          *error = "control bytes on " + std::to_string(controlLines_) + " lines (the last line " +
                   std::to_string(line_) + "): not a text file";
          return false;
        }
      }
    }
    return true;
  }

 private:
  size_t line_ = 1;
  size_t length_ = 0;
  bool controlSeen_ = false;
  int controlLines_ = 0;
};

}  // namespace

bool ReadJobText(const std::string& path, std::string* text, std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    *error = path + " is a directory, not a job file";
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = "cannot open job file " + path;
    return false;
  }
  text->clear();
  TextWatch watch;
  char chunk[kReadChunk];
  bool ok = true;
  for (size_t n; ok && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) {
    ok = watch.Take(chunk, n, error);
    if (ok && text->size() + n > kLargestJobFile) {
      *error = "larger than ";
      *error += std::to_string(kLargestJobFile >> 20) + " MiB: not a job file";
      ok = false;
    }
    if (ok) text->append(chunk, n);
  }
  if (ok && std::ferror(f)) {
    *error = "cannot read job file " + path;
    ok = false;
  }
  std::fclose(f);
  if (!ok && error->rfind(path, 0) != 0) *error = path + ": " + *error;
  return ok;
}

std::string PrintableText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c < 0x7F) {
      out += ch;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

}  // namespace torvexan::sim
