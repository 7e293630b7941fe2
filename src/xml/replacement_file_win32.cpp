// Replacing a file on Windows: a temporary file in the same folder, then ReplaceFileW (which
// keeps the original's attributes and access rights) or MoveFileExW; in place when the folder
// refuses a new file.
#ifdef _WIN32

#include <windows.h>

#include "xml/replacement_file.h"

namespace torvexan {
namespace {

constexpr const wchar_t* kTemporaryPrefix = L"tvx";
constexpr DWORD kMaxChunkBytes = 1u << 20;

// Paths come in the system code page.
std::wstring Wide(const std::string& path) {
  const int units =
      MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), units);
  return wide;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash + 1);
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk =
        bytes.size() < kMaxChunkBytes ? static_cast<DWORD>(bytes.size()) : kMaxChunkBytes;
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool ReadAll(HANDLE file, std::string& out) {
  char chunk[4096];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, chunk, sizeof(chunk), &read, nullptr)) return false;
    if (read == 0) return true;
    out.append(chunk, read);
  }
}

// Writes the whole contents from the start of the file and ends the file there.
bool Rewrite(HANDLE file, std::string_view bytes) {
  return SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
         WriteAll(file, bytes) && SetEndOfFile(file) && FlushFileBuffers(file);
}

}  // namespace

bool ReplacementFile::Open(const std::string& target) {
  Abandon();
  error_ = 0;
  target_ = target;
  const DWORD attributes = GetFileAttributesW(Wide(target).c_str());
  targetExists_ = attributes != INVALID_FILE_ATTRIBUTES;
  if (targetExists_ && (attributes & FILE_ATTRIBUTE_READONLY)) {
    error_ = ERROR_ACCESS_DENIED;
    return false;
  }
  open_ = true;
  return true;
}

bool ReplacementFile::Commit() {
  if (!open_) return false;
  const std::wstring target = Wide(target_);
  wchar_t temporary[MAX_PATH];
  if (GetTempFileNameW(FolderOf(target).c_str(), kTemporaryPrefix, 0, temporary) == 0) {
    // A profile made writable for its user inside a folder that is not.
    error_ = static_cast<int>(GetLastError());
    const bool ok = error_ == ERROR_ACCESS_DENIED && targetExists_ && WriteInPlace();
    Abandon();
    return ok;
  }
  const HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = file != INVALID_HANDLE_VALUE && WriteAll(file, contents_) && FlushFileBuffers(file);
  if (!ok) error_ = static_cast<int>(GetLastError());
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (ok) {
    const bool replaced =
        targetExists_ && ReplaceFileW(target.c_str(), temporary, nullptr,
                                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    // ReplaceFileW fails for a missing target and on file systems without its support; where it
    // failed half way the original may be gone, and the move puts the new contents in its place.
    if (!replaced && !MoveFileExW(temporary, target.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error_ = static_cast<int>(GetLastError());
      ok = false;
    }
  }
  if (!ok) DeleteFileW(temporary);
  Abandon();
  return ok;
}

// Without a temporary file the old contents are kept in memory, to be written back should the
// new ones not fit.
bool ReplacementFile::WriteInPlace() {
  const HANDLE file = CreateFileW(Wide(target_).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = static_cast<int>(GetLastError());
    return false;
  }
  std::string original;
  const bool read = ReadAll(file, original);
  const bool ok = read && Rewrite(file, contents_);
  if (!ok) {
    error_ = static_cast<int>(GetLastError());
    if (read) Rewrite(file, original);
  }
  CloseHandle(file);
  if (ok) error_ = 0;
  return ok;
}

void ReplacementFile::Abandon() {
  contents_.clear();
  open_ = false;
}

}  // namespace torvexan

#endif  // _WIN32
