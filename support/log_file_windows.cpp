#include <windows.h>

#include <climits>
#include <filesystem>

#include "support/errors.hpp"
#include "support/host_text.hpp"
#include "support/log_file.hpp"
#include "support/windows_text.hpp"

namespace lumirex::log_file {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, DWORD error) {
  throw IOError("cannot " + std::string(what) + " the integration log '" + HostTextFromUtf8(path) +
                "': " + WindowsErrorText(error));
}

// Not inherited by a program the host starts.
SECURITY_ATTRIBUTES NotInherited() {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.bInheritHandle = FALSE;
  return attributes;
}

// The missing folders above the log file. Each takes the permissions its
// parent passes on (no security descriptor of ours): on Windows the base
// folder's inherited access list is what keeps other users out, as 0750
// does on Linux. One that appeared meanwhile (another till) is fine.
void CreateFolders(const std::filesystem::path& folder, const std::string& logPath) {
  std::error_code error;
  if (folder.empty() || std::filesystem::is_directory(folder, error)) return;
  const std::filesystem::path parent = folder.parent_path();
  if (parent != folder) CreateFolders(parent, logPath);
  SECURITY_ATTRIBUTES attributes = NotInherited();
  if (!CreateDirectoryW(folder.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
    Fail("create the folder of", logPath, GetLastError());
  }
}

// Appending only, shared with readers (a support person's editor), other
// writers (another till) and deletion; a reparse point (a link) is opened as
// itself, so it is refused below instead of steering our lines elsewhere.
HANDLE Open(const std::wstring& path) {
  SECURITY_ATTRIBUTES attributes = NotInherited();
  return CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &attributes,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

LogFile::LogFile(const std::string& path) : path_(path) {
  const std::wstring wide = WideFromUtf8(path_);
  HANDLE handle = Open(wide);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
    CreateFolders(std::filesystem::path(wide).parent_path(), path_);
    handle = Open(wide);
  }
  if (handle == INVALID_HANDLE_VALUE) Fail("open", path_, GetLastError());
  handle_ = handle;
  // Only a file on a disk is appended to: a device, a pipe or a link at the
  // day's path is someone else's.
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) Fail("examine", path_, GetLastError());
  if (GetFileType(handle) != FILE_TYPE_DISK ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    throw IOError("cannot write the integration log '" + path_ + "': not a regular file");
  }
}

LogFile::~LogFile() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

// One WriteFile of the whole line or block: with FILE_APPEND_DATA each write
// lands at the end of the file as one piece, whoever else appends. A block
// comes as one piece and is written from where it lies.
void LogFile::Write(std::initializer_list<std::string_view> pieces) {
  std::string joined;
  std::string_view line = *pieces.begin();
  if (pieces.size() > 1) {
    for (std::string_view piece : pieces) joined += piece;
    line = joined;
  }
  if (line.size() > INT_MAX) Fail("write", path_, ERROR_NOT_ENOUGH_MEMORY);
  DWORD written = 0;
  if (!WriteFile(handle_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
    Fail("write", path_, GetLastError());
  }
  if (written != line.size()) Fail("write", path_, ERROR_DISK_FULL);
}

void LogFile::Close() {
  HANDLE handle = handle_;
  handle_ = nullptr;
  if (!CloseHandle(handle)) Fail("close", path_, GetLastError());
}

}  // namespace lumirex::log_file
