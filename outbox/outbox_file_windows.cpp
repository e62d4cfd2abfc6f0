#include <windows.h>

#include "outbox/outbox_file.hpp"
#include "support/windows_text.hpp"

namespace lumirex::outbox {

namespace {

struct Handle {
  HANDLE value;
  ~Handle() {
    if (value != INVALID_HANDLE_VALUE) CloseHandle(value);
  }
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A reparse point (a symbolic link, a junction) is opened as itself, a folder
// at all, so that what stands at the path is what gets examined.
void Check(const std::string& path, const std::wstring& wide) {
  const Handle file{
      CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  if (file.value == INVALID_HANDLE_VALUE) RefuseFile(path, WindowsErrorText(GetLastError()));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.value, &information)) {
    RefuseFile(path, WindowsErrorText(GetLastError()));
  }
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    RefuseFile(path, "it is a symbolic link");
  }
  if (GetFileType(file.value) != FILE_TYPE_DISK ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    RefuseFile(path, "it is not a regular file");
  }
}

bool Missing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

// A new file takes the access list its folder passes on (no security
// descriptor of ours): the base folder's keeps other users out, as 0600 does
// on Linux.
bool MakeOrCheckFile(const std::string& path, bool create) {
  const std::wstring wide = WideFromUtf8(path);
  if (GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) {
    Check(path, wide);
    return false;
  }
  const DWORD absent = GetLastError();
  if (!Missing(absent) || !create) RefuseFile(path, WindowsErrorText(absent));
  SECURITY_ATTRIBUTES notInherited{sizeof notInherited, nullptr, FALSE};
  const Handle made{CreateFileW(wide.c_str(), GENERIC_WRITE, kShareAll, &notInherited, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (made.value != INVALID_HANDLE_VALUE) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS) return MakeOrCheckFile(path, false);  // another till made it
  RefuseFile(path, WindowsErrorText(error));
}

// The access list comes from the folder, as for a new file: nothing to take
// away here.
void KeepPrivate(const std::string&) {}

// SQLite takes file names in UTF-8 on Windows.
std::string SqliteFileName(const std::string& path) {
  return path;  // UTF-8 already, which is what SQLite takes on Windows
}

}  // namespace lumirex::outbox
