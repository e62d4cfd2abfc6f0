#include <windows.h>
// After windows.h, which it needs.
#include <lmcons.h>

#include "support/processes.hpp"
#include "support/windows_text.hpp"

namespace lumirex {

std::int64_t ThisProcessId() noexcept {
  return GetCurrentProcessId();
}

bool ProcessEnded(std::int64_t id) noexcept {
  if (id <= 0 || id > MAXDWORD) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
  // No such process is an invalid parameter; access denied is one that runs.
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool ended = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
  CloseHandle(process);
  return ended;
}

std::string ThisUserName() {
  wchar_t name[UNLEN + 1];
  DWORD size = UNLEN + 1;
  if (GetUserNameW(name, &size) && size > 0) return HostTextFromWide({name, size - 1});
  return "an unknown user";
}

}  // namespace lumirex
