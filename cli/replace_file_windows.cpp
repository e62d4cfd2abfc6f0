#include <windows.h>
// windows.h's ReplaceFile macro would rename ours to the system's.
#undef ReplaceFile

#include <stdexcept>

#include "cli/replace_file.hpp"
#include "support/windows_text.hpp"

namespace lumirex::cli {

namespace {

[[noreturn]] void Refuse(const std::string& path, DWORD error) {
  throw std::runtime_error("cannot write '" + path + "': " + WindowsErrorText(error));
}

// An exporter reading the old file at that moment keeps it from being
// replaced; its read is short, so a few tries get past it.
bool MoveOver(const std::wstring& from, const std::wstring& to) {
  for (int tries = 0; tries < 10; ++tries) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
    Sleep(50);
  }
  return false;
}

}  // namespace

// The file takes the access list its folder passes on, as the exporter's
// folder is set up to be read.
void ReplaceFile(const std::string& folder, const std::string& name, std::string_view content) {
  const std::string path = folder + "\\" + name;
  const std::wstring target = WideFromUtf8(path);
  const std::wstring temporary =
      WideFromUtf8(folder + "\\." + name + "." + std::to_string(GetCurrentProcessId()) + ".tmp");
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Refuse(path, GetLastError());
  DWORD written = 0;
  bool done =
      content.empty() ||
      (WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
       written == content.size());
  done = done && FlushFileBuffers(file);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (done && MoveOver(temporary, target)) return;
  if (done) error = GetLastError();
  DeleteFileW(temporary.c_str());
  Refuse(path, error);
}

}  // namespace lumirex::cli
