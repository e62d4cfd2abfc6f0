#include <windows.h>

#include <string>

#include "support/system_clock_and_path.hpp"
#include "support/windows_text.hpp"

namespace lumirex {

DateTimeParts LocalTimeNow() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return {local.wYear,   local.wMonth,  local.wDay,         local.wHour,
          local.wMinute, local.wSecond, local.wMilliseconds};
}

// The executable's path may exceed MAX_PATH: the buffer grows until it fits.
std::string ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (size == 0) return ".";
    if (size < path.size()) {
      path.resize(size);
      break;
    }
    if (path.size() >= 32768) return ".";
    path.resize(path.size() * 2);
  }
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return ".";
  // A drive's root keeps its separator: "C:" alone would mean the drive's
  // current folder.
  path.resize(separator == 2 && path[1] == L':' ? separator + 1 : separator);
  return Utf8FromWide(path);
}

std::optional<std::string> EnvironmentValue(const char* name) {
  const std::wstring wideName = WideFromUtf8(name);
  std::wstring value(64, L'\0');
  for (;;) {
    const DWORD size =
        GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (size == 0) return std::nullopt;
    if (size < value.size()) {
      value.resize(size);
      return Utf8FromWide(value);
    }
    value.resize(size);  // the size asked for, with its terminating NUL
  }
}

std::string MachineName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return {};
  return Utf8FromWide(std::wstring_view(name, size));
}

}  // namespace lumirex
