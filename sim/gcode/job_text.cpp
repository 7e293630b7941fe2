#include "sim/gcode/job_text.h"

#include <cstdio>
#include <filesystem>
#include <optional>

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

// The file's encoding, told by its byte-order mark: Windows Notepad writes one before UTF-8
// ("UTF-8 with BOM") and before UTF-16 ("Unicode"). Without one the text is taken as it is
// (ASCII, UTF-8 or a code page: G-code's own words are ASCII in all of them).
enum class Encoding { kPlain, kUtf16Le, kUtf16Be };

// UTF-16 into UTF-8, chunk by chunk: a unit or a surrogate pair may straddle two chunks.
class Utf16Decoder {
 public:
  explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}

  void Take(const char* bytes, size_t n, std::string* out) {
    for (size_t i = 0; i < n; ++i) {
      if (!haveByte_) {
        byte_ = static_cast<unsigned char>(bytes[i]);
        haveByte_ = true;
        continue;
      }
      haveByte_ = false;
      const unsigned char b = static_cast<unsigned char>(bytes[i]);
      Unit(bigEndian_ ? (byte_ << 8 | b) : (b << 8 | byte_), out);
    }
  }

  // A lone byte or surrogate at the end: the file was cut short.
  bool Complete() const { return !haveByte_ && high_ == 0; }

 private:
  void Unit(unsigned unit, std::string* out) {
    if (unit >= 0xD800 && unit < 0xDC00) {
      if (high_ != 0) Append(kReplacement, out);
      high_ = unit;
      return;
    }
    if (unit >= 0xDC00 && unit < 0xE000) {
      Append(high_ != 0 ? 0x10000 + ((high_ - 0xD800) << 10) + (unit - 0xDC00) : kReplacement, out);
      high_ = 0;
      return;
    }
    if (high_ != 0) Append(kReplacement, out);
    high_ = 0;
    Append(unit, out);
  }

  static void Append(unsigned c, std::string* out) {
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | c >> 6);
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | c >> 12);
      *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | c >> 18);
      *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  static constexpr unsigned kReplacement = 0xFFFD;
  bool bigEndian_;
  bool haveByte_ = false;
  unsigned char byte_ = 0;
  unsigned high_ = 0;
};

// The encoding and how many bytes of the mark to leave out.
Encoding ByteOrderMark(const char* bytes, size_t n, size_t* markLength) {
  const auto at = [bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  *markLength = 0;
  if (n >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
    *markLength = 3;
    return Encoding::kPlain;
  }
  if (n >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
    *markLength = 2;
    return Encoding::kUtf16Le;
  }
  if (n >= 2 && at(0) == 0xFE && at(1) == 0xFF) {
    *markLength = 2;
    return Encoding::kUtf16Be;
  }
  return Encoding::kPlain;
}

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
  // Room for the whole file at once: grown by doubling, a long job's text would at times take
  // twice and three times its size.
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (!ec && size <= kLargestJobFile) text->reserve(static_cast<size_t>(size));
  TextWatch watch;
  char chunk[kReadChunk];
  bool ok = true;
  bool first = true;
  std::optional<Utf16Decoder> utf16;
  std::string decoded;
  for (size_t n; ok && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) {
    const char* bytes = chunk;
    if (first) {
      size_t mark = 0;
      const Encoding encoding = ByteOrderMark(chunk, n, &mark);
      if (encoding != Encoding::kPlain) utf16.emplace(encoding == Encoding::kUtf16Be);
      bytes += mark;
      n -= mark;
      first = false;
    }
    if (utf16) {
      decoded.clear();
      utf16->Take(bytes, n, &decoded);
      bytes = decoded.data();
      n = decoded.size();
    }
    ok = watch.Take(bytes, n, error);
    if (ok && text->size() + n > kLargestJobFile) {
      *error = "larger than ";
      *error += std::to_string(kLargestJobFile >> 20) + " MiB: not a job file";
      ok = false;
    }
    if (ok) text->append(bytes, n);
  }
  if (ok && std::ferror(f)) {
    *error = "cannot read job file " + path;
    ok = false;
  }
  if (ok && utf16 && !utf16->Complete()) {
    *error = "UTF-16 text cut short at its end (an odd number of bytes or half a character)";
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
