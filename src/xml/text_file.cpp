#include "xml/text_file.h"

#include <algorithm>

#include "xml/code_page.h"
#include "xml/encoding_table.h"

namespace torvexan {
namespace {

constexpr std::string_view kUtf8 = "UTF-8";

// Whether every byte from 0x80 up belongs to a well-formed UTF-8 sequence; `sawMultiByte`
// tells whether there was any.
bool IsUtf8(std::string_view text, bool& sawMultiByte) {
  sawMultiByte = false;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t trail;
    if ((b & 0xE0) == 0xC0) {
      trail = 1;
    } else if ((b & 0xF0) == 0xE0) {
      trail = 2;
    } else if ((b & 0xF8) == 0xF0) {
      trail = 3;
    } else {
      return false;
    }
    if (i + trail >= text.size()) return false;
    for (size_t k = 1; k <= trail; ++k) {
      if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    sawMultiByte = true;
    i += trail + 1;
  }
  return true;
}

std::u16string BytesToUnits(std::string_view bytes, bool bigEndian) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    const auto first = static_cast<uint8_t>(bytes[2 * i]);
    const auto second = static_cast<uint8_t>(bytes[2 * i + 1]);
    units[i] = static_cast<char16_t>(bigEndian ? (first << 8) | second : first | (second << 8));
  }
  return units;
}

std::string UnitsToBytes(std::u16string_view units, bool bigEndian) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t u : units) {
    const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
    bytes.push_back(bigEndian ? high : low);
    bytes.push_back(bigEndian ? low : high);
  }
  return bytes;
}

bool IsSurrogate(char16_t u) {
  return u >= 0xD800 && u <= 0xDFFF;
}

// An unpaired surrogate has no UTF-8 form: converting it loses it.
bool HasUnpairedSurrogate(std::u16string_view units) {
  for (size_t i = 0; i < units.size(); ++i) {
    if (!IsSurrogate(units[i])) continue;
    const bool high = units[i] <= 0xDBFF;
    if (!high || i + 1 >= units.size() || !IsSurrogate(units[i + 1]) || units[i + 1] <= 0xDBFF) {
      return true;
    }
    ++i;
  }
  return false;
}

// Code pages whose bytes are not read as they stand: wide ones, stateful ones whose escape
// sequences may hold "<", and Johab, whose trail bytes may be markup.
bool NeedsUtf8Document(uint32_t codePage) {
  switch (codePage) {
    case kCodePageUtf16:
    case kCodePageUtf16Be:
    case 12000:
    case 12001:
    case kCodePageUtf32:
    case 1361:
    case 52936:
    case 65000:
      return true;
    default:
      return codePage >= 50220 && codePage <= 50229;
  }
}

const BomRow* BomOfFlags(uint32_t flags) {
  for (const BomRow& row : kBomTable) {
    if (flags & row.docFlag) return &row;
  }
  return nullptr;
}

}  // namespace

TextFile::TextFile(uint32_t docFlags, uint32_t codePage) : flags_(docFlags), codePage_(codePage) {}

TextFile::~TextFile() {
  Close();
}

void TextFile::RecordFileError(int code) {
  log_.Add("file_error", {{"msg", SystemErrorText(code)}, {"n", code}});
}

bool TextFile::OpenRead(const std::string& path) {
  log_.Clear();
  flags_ |= kFileRead;
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) {
    RecordFileError(LastSystemError());
    return false;
  }
  if (std::fseek(file_, 0, SEEK_END) != 0 || (fileSize_ = std::ftell(file_)) < 0 ||
      std::fseek(file_, 0, SEEK_SET) != 0) {
    RecordFileError(LastSystemError());
    return false;
  }
  head_.resize(std::min<int64_t>(fileSize_, kHeadBytes));
  if (std::fread(head_.data(), 1, head_.size(), file_) != head_.size()) {
    RecordFileError(LastSystemError());
    return false;
  }
  filePosition_ = static_cast<int64_t>(head_.size());
  bool mark = false;
  for (const BomRow& row : kBomTable) {
    if (std::string_view(head_).substr(0, row.bytes.size()) == row.bytes) {
      flags_ = (flags_ & ~kDocBomMask) | row.docFlag;
      unitWidth_ = row.bytes.size() == 2 ? 2 : 1;
      encoding_ = row.encoding;
      head_.erase(0, row.bytes.size());
      mark = true;
      break;
    }
  }
  if (!mark) {
    flags_ &= ~kDocBomMask;
    encoding_ = DeclaredEncoding(head_);
    if (encoding_.empty() && !head_.empty() && head_[0] == '<') encoding_ = kUtf8;
  } else {
    log_.Add("bom");
  }
  return true;
}

bool TextFile::ConvertIn(std::string& text, bool fromUtf16) {
  std::string converted;
  bool loss = false;
  bool ok;
  if (fromUtf16) {
    const std::u16string units = BytesToUnits(text, false);
    ok = FromUtf16(codePage_, units, converted, loss);
    loss = loss || (keepEveryCharacter_ && HasUnpairedSurrogate(units));
  } else {
    const uint32_t from = CodePageOfName(encoding_);
    ok = ConvertCodePage(from, codePage_, text, converted, loss);
  }
  if (!ok) {
    // No converter for this pair: keep the bytes, but mark the text as not faithful.
    log_.Add("conversion_loss");
    return false;
  }
  text = std::move(converted);
  log_.Add("converted_to", {{"length", static_cast<int64_t>(text.size())}});
  if (loss) log_.Add("conversion_loss");
  return true;
}

// The "read" entry is updated in place to name the encoding as now known.
void TextFile::UpdateReadEntry() {
  XmlDocument entries(codePage_);
  entries.SetDocument(log_.Text());
  if (entries.FindElement("read")) {
    entries.SetAttribute(entries.MainElement(), "encoding", encoding_);
    log_.MutableText() = entries.Text();
  }
}

// Null units end C strings in the host; they are dropped.
void TextFile::RemoveNullUnits(std::string& text) {
  size_t kept = 0;
  for (size_t i = 0; i < text.size(); i += unitWidth_) {
    const bool null = unitWidth_ == 2 ? (text[i] == 0 && text[i + 1] == 0) : text[i] == 0;
    if (null) continue;
    for (int k = 0; k < unitWidth_; ++k) text[kept++] = text[i + k];
  }
  if (kept != text.size()) {
    log_.Add("nulls_removed", {{"count", static_cast<int64_t>((text.size() - kept) / unitWidth_)}});
    text.resize(kept);
  }
}

// Where the file's own code page can hold the text as it stands, the bytes are taken unchanged
// (even bytes that are no characters of it) and written back unchanged; only the Unicode and
// stateful encodings are converted, into UTF-8, which holds all of their characters.
void TextFile::ChooseLosslessCodePage(std::string_view text) {
  if (unitWidth_ == 2) {
    codePage_ = kCodePageUtf8;
    return;
  }
  const uint32_t declared = CodePageOfName(encoding_);
  bool sawMultiByte = false;
  if (declared == 0) {
    codePage_ = IsUtf8(text, sawMultiByte) ? kCodePageUtf8 : SystemCodePage();
  } else if (declared == kUnknownCodePage) {
    codePage_ = SystemCodePage();  // nothing to convert from: the bytes stay as they are
  } else {
    codePage_ = NeedsUtf8Document(declared) ? kCodePageUtf8 : declared;
  }
}

bool TextFile::Read(std::string& text) {
  if (!file_) return false;
  text = std::move(head_);
  head_.clear();
  const size_t rest = static_cast<size_t>(fileSize_ - filePosition_);
  const size_t before = text.size();
  text.resize(before + rest);
  if (std::fread(text.data() + before, 1, rest, file_) != rest) {
    RecordFileError(LastSystemError());
    return false;
  }
  filePosition_ += static_cast<int64_t>(rest);
  if (unitWidth_ == 2 && text.size() % 2 != 0) {
    // Half a unit at the end has no character: it is dropped.
    text.pop_back();
    if (keepEveryCharacter_) log_.Add("conversion_loss");
  }
  units_ = static_cast<int64_t>(text.size()) / unitWidth_;
  log_.Add("read", {{"encoding", encoding_}, {"length", units_}});

  if (keepEveryCharacter_) {
    ChooseLosslessCodePage(text);
  } else {
    RemoveNullUnits(text);
  }

  if (unitWidth_ == 2) {
    if (flags_ & kDocUtf16Be) {
      for (size_t i = 0; i + 1 < text.size(); i += 2) std::swap(text[i], text[i + 1]);
      log_.Add("endian_swap");
    }
    ConvertIn(text, true);
    return true;
  }
  if (EncodingsDiffer(encoding_, "", codePage_)) {
    ConvertIn(text, false);
    return true;
  }
  if (encoding_.empty()) {
    bool sawMultiByte = false;
    if (IsUtf8(text, sawMultiByte)) {
      encoding_ = kUtf8;
      UpdateReadEntry();
      if (sawMultiByte && EncodingsDiffer(encoding_, "", codePage_)) ConvertIn(text, false);
    }
    log_.Add("utf8_detection");
  }
  return true;
}

bool TextFile::OpenWrite(const std::string& path, std::string_view documentText,
                         std::string_view fallbackEncoding) {
  log_.Clear();
  flags_ |= kFileWrite;
  if (!replacement_.Open(path)) {
    RecordFileError(replacement_.Error());
    return false;
  }
  writing_ = true;
  if (const BomRow* row = BomOfFlags(flags_)) {
    encoding_ = row->encoding;
    unitWidth_ = row->bytes.size() == 2 ? 2 : 1;
    bigEndian_ = row->docFlag == kDocUtf16Be;
    replacement_.Append(row->bytes);
    filePosition_ = static_cast<int64_t>(row->bytes.size());
    log_.Add("bom");
  } else {
    encoding_ = DeclaredEncoding(documentText.substr(0, kHeadBytes));
    if (encoding_.empty()) encoding_ = fallbackEncoding;
  }
  return true;
}

bool TextFile::Write(std::string_view text) {
  if (!writing_) return false;
  failed_ = true;  // until the whole text is out
  std::string converted;
  std::string_view out = text;
  bool loss = false;
  if (unitWidth_ == 2) {
    std::u16string units;
    if (!ToUtf16(codePage_, text, units, loss)) {
      log_.Add("conversion_loss");
      return false;
    }
    log_.Add("converted_from", {{"length", static_cast<int64_t>(text.size())}});
    if (bigEndian_) log_.Add("endian_swap");
    converted = UnitsToBytes(units, bigEndian_);
    out = converted;
  } else if (EncodingsDiffer(encoding_, "", codePage_)) {
    if (!ConvertCodePage(codePage_, CodePageOfName(encoding_), text, converted, loss)) {
      // Writing the text unconverted would mislabel it; nothing is written instead.
      log_.Add("conversion_loss");
      return false;
    }
    log_.Add("converted_from", {{"length", static_cast<int64_t>(text.size())}});
    if (loss) log_.Add("conversion_loss");
    out = converted;
  }
  replacement_.Append(out);
  filePosition_ += static_cast<int64_t>(out.size());
  units_ = static_cast<int64_t>(out.size()) / unitWidth_;
  failed_ = false;
  log_.Add("write", {{"encoding", encoding_}, {"length", units_}});
  return true;
}

bool TextFile::Close() {
  if (!file_ && !writing_) return true;
  bool ok;
  if (writing_) {
    writing_ = false;
    if (failed_) {
      // A partial text never takes the place of the file.
      replacement_.Abandon();
      ok = false;
    } else {
      ok = replacement_.Commit();
      if (!ok) RecordFileError(replacement_.Error());
    }
  } else {
    ok = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok) RecordFileError(LastSystemError());
  }
  flags_ &= ~(kFileRead | kFileWrite);
  return ok;
}

namespace {

bool Load(XmlDocument& document, const std::string& path, bool keepEveryCharacter) {
  TextFile file(document.DocFlags(), document.CodePage());
  if (keepEveryCharacter) file.KeepEveryCharacter();
  std::string text;
  const bool read = file.OpenRead(path) && file.Read(text);
  const bool closed = file.Close();
  if (!read || !closed) {
    document.Log().Clear();
    document.Log().Append(file.Log().Text());
    return false;
  }
  document.SetCodePage(file.CodePage());
  document.SetDocFlags((document.DocFlags() & ~kDocBomMask) | (file.Flags() & kDocBomMask));
  document.TakeText(std::move(text));
  document.Log().Clear();
  document.Log().Append(file.Log().Text());
  document.SetSourceEncoding(file.Encoding());
  document.Parse();
  return document.IsWellFormed();
}

}  // namespace

bool LoadFile(XmlDocument& document, const std::string& path) {
  return Load(document, path, false);
}

bool LoadFileLossless(XmlDocument& document, const std::string& path) {
  return Load(document, path, true);
}

bool SaveFile(XmlDocument& document, const std::string& path) {
  TextFile file(document.DocFlags(), document.CodePage());
  // A document read from a file without mark or declaration goes back in the encoding it was
  // read with; a new one is written as UTF-8.
  const std::string fallback = document.SourceEncoding().value_or(std::string(kUtf8));
  bool ok = file.OpenWrite(path, document.Text(), fallback) && file.Write(document.Text());
  ok = file.Close() && ok;
  document.Log().Clear();
  document.Log().Append(file.Log().Text());
  return ok;
}

}  // namespace torvexan
