// A folder's access as its own security grants it to this process's user:
// the folder's security descriptor checked against the process's token, as
// Windows will check it when the library makes its files there.
#include <windows.h>

#include <memory>
#include <vector>

#include "cli/doctor/file_access.hpp"
#include "support/windows_text.hpp"

namespace lumirex::cli::doctor {

namespace {

struct HandleClose {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleClose>;

std::string LastError() {
  return WindowsErrorText(GetLastError());
}

// AccessCheck takes an impersonation token: the process's own, duplicated.
Handle ProcessToken() {
  HANDLE process = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process)) {
    return nullptr;
  }
  Handle owned(process);
  HANDLE impersonation = nullptr;
  if (!DuplicateToken(process, SecurityImpersonation, &impersonation)) return nullptr;
  return Handle(impersonation);
}

std::string AccessRefusal(const std::filesystem::path& path, DWORD wanted) {
  const SECURITY_INFORMATION parts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  GetFileSecurityW(path.c_str(), parts, nullptr, 0, &size);
  std::vector<unsigned char> descriptor(size);
  if (size == 0 || !GetFileSecurityW(path.c_str(), parts, descriptor.data(), size, &size)) {
    return "cannot read its security: " + LastError();
  }
  const Handle token = ProcessToken();
  if (!token) return "cannot read this process's token: " + LastError();
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  MapGenericMask(&wanted, &mapping);
  PRIVILEGE_SET privileges{};
  DWORD privilegesSize = sizeof(privileges);
  DWORD granted = 0;
  BOOL allowed = FALSE;
  if (!AccessCheck(descriptor.data(), token.get(), wanted, &mapping, &privileges, &privilegesSize,
                   &granted, &allowed)) {
    return "cannot check its security: " + LastError();
  }
  return allowed ? "" : "its security denies this user";
}

}  // namespace

std::string WriteRefusal(const std::filesystem::path& folder) {
  return AccessRefusal(folder, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE);
}

std::string EnterRefusal(const std::filesystem::path& folder) {
  return AccessRefusal(folder, FILE_TRAVERSE);
}

AppendTry TryAppend(const std::filesystem::path& file) {
  // The link itself when the file is one, as the library never follows it.
  const HANDLE raw = CreateFileW(file.c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return {AppendTry::Outcome::Refused, LastError()};
  const Handle handle(raw);
  FILE_ATTRIBUTE_TAG_INFO tag{};
  const bool regular =
      GetFileType(raw) == FILE_TYPE_DISK &&
      GetFileInformationByHandleEx(raw, FileAttributeTagInfo, &tag, sizeof(tag)) &&
      (tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  return {regular ? AppendTry::Outcome::Regular : AppendTry::Outcome::NotRegular, ""};
}

}  // namespace lumirex::cli::doctor
