#include <windows.h>
// After windows.h, which it needs.
#include <lmcons.h>

#include "support/processes.hpp"
#include "support/windows_text.hpp"

namespace lumirex {

namespace {

std::int64_t FileTimeValue(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

}  // namespace

std::int64_t ThisProcessId() noexcept {
  return GetCurrentProcessId();
}

std::int64_t ProcessStartTime(std::int64_t id) noexcept {
  if (id <= 0 || id > MAXDWORD) return 0;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
  if (process == nullptr) return 0;
  FILETIME created{}, exited{}, kernel{}, user{};
  const bool read = GetProcessTimes(process, &created, &exited, &kernel, &user);
  CloseHandle(process);
  return read ? FileTimeValue(created) : 0;
}

// No boot id here: the computer's name and when it started, to ten minutes.
// A step of the clock may make one boot look like two, which only makes its
// claims wait out their time as if made elsewhere.
std::string ThisBoot() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return {};
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::int64_t tenMinutes = 10LL * 60 * 10'000'000;
  const std::int64_t started =
      FileTimeValue(now) - static_cast<std::int64_t>(GetTickCount64()) * 10'000;
  return HostTextFromWide({name, size}) + " " +
         std::to_string((started + tenMinutes / 2) / tenMinutes);
}

std::int64_t SecondsSinceBoot() noexcept {
  return static_cast<std::int64_t>(GetTickCount64() / 1000);
}

bool ProcessEnded(std::int64_t id, std::int64_t start) noexcept {
  if (id <= 0 || id > MAXDWORD) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
  // No such process is an invalid parameter; access denied is one that runs.
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  bool ended = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
  FILETIME created{}, exited{}, kernel{}, user{};
  // The id given to a later process: the one that claimed is gone.
  if (!ended && start != 0 && GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    ended = FileTimeValue(created) != start;
  }
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
