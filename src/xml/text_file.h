// Moving an XmlDocument between a file in any known encoding and memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "xml/replacement_file.h"
#include "xml/result_log.h"
#include "xml/xml_document.h"

namespace torvexan {

// TextFile mode bits, added to the document flags while the file is open.
inline constexpr uint32_t kFileRead = 16;
inline constexpr uint32_t kFileWrite = 32;
// How much of a file is searched for a byte-order mark and a declared encoding.
inline constexpr size_t kHeadBytes = 1024;

// One open file of a LoadFile or SaveFile call.
class TextFile {
 public:
  // docFlags: the document's flags; codePage: the code page of the document's text.
  TextFile(uint32_t docFlags, uint32_t codePage);
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Opens for reading, recognising a byte-order mark or a declared encoding.
  bool OpenRead(const std::string& path);
  // Reads into a code page that holds every character of the file instead of the one given:
  // UTF-8 for the Unicode encodings, the file's own code page for 8-bit files, and null units
  // are kept, so that writing the text back gives the bytes that were read.
  void KeepEveryCharacter() { keepEveryCharacter_ = true; }
  // Opens for writing; documentText supplies the declared encoding when no mark applies, and
  // fallbackEncoding stands in when nothing is declared.
  bool OpenWrite(const std::string& path, std::string_view documentText,
                 std::string_view fallbackEncoding);
  // Reads the rest of the file, converted into the document's code page.
  bool Read(std::string& text);
  // Writes the document text, converted into the file's encoding.
  bool Write(std::string_view text);
  bool Close();

  uint32_t Flags() const { return flags_; }
  // The code page of the text read (the one given, unless every character is kept).
  uint32_t CodePage() const { return codePage_; }
  const std::string& Encoding() const { return encoding_; }
  ResultLog& Log() { return log_; }

 private:
  void RecordFileError(int code);
  bool ConvertIn(std::string& text, bool fromUtf16);
  void UpdateReadEntry();
  void RemoveNullUnits(std::string& text);
  void ChooseLosslessCodePage(std::string_view text);

  std::FILE* file_ = nullptr;  // reading
  bool writing_ = false;
  ReplacementFile replacement_;
  uint32_t flags_;
  uint32_t codePage_;
  int64_t fileSize_ = 0;
  int64_t filePosition_ = 0;
  int unitWidth_ = 1;
  bool bigEndian_ = false;
  bool failed_ = false;  // a write went wrong: the file must not replace its target
  bool keepEveryCharacter_ = false;
  int64_t units_ = 0;
  ResultLog log_;
  std::string encoding_;
  std::string head_;  // the first bytes of a file being read
};

// The encoding a text declares: the XML declaration's, or an HTML meta element's charset.
std::string DeclaredEncoding(std::string_view text);

// Reads the whole file into the document and parses it; true when read and well formed.
bool LoadFile(XmlDocument& document, const std::string& path);
// LoadFile into a document whose code page becomes one that holds every character of the file
// (see TextFile::KeepEveryCharacter): SaveFile then writes back every byte that was read, but
// for the edits. A "conversion_loss" entry still tells when that could not be done.
bool LoadFileLossless(XmlDocument& document, const std::string& path);
// Writes the whole document text; true when the file was written.
bool SaveFile(XmlDocument& document, const std::string& path);

}  // namespace torvexan
