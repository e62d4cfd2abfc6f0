#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>

#include <unistd.h>

#include "support/process_state.hpp"
#include "support/system_clock_and_path.hpp"

namespace lumirex {

namespace {

// The C library's time zone lock is not freed in a fork's child: a child
// forked while another of our threads converted a time would wait on it for
// ever. Our conversions hold this lock instead, which a fork takes first.
struct TimeZone {
  std::mutex mutex;
};

}  // namespace

DateTimeParts LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // A call's lines fall within a few seconds: a thread converts each second
  // once, and again when the host has set another time zone (tzset), which
  // the C library's description of the zone then shows.
  thread_local struct {
    bool done = false;
    time_t second = 0;
    long zone = 0;
    int daylight = 0;
    const char* names[2] = {};
    tm local{};
  } last;
  {
    std::lock_guard lock(ProcessState<TimeZone>().mutex);
    if (!last.done || last.second != now.tv_sec || last.zone != timezone ||
        last.daylight != daylight || last.names[0] != tzname[0] || last.names[1] != tzname[1]) {
      localtime_r(&now.tv_sec, &last.local);
      last = {true, now.tv_sec, timezone, daylight, {tzname[0], tzname[1]}, last.local};
    }
  }
  const tm& local = last.local;
  DateTimeParts parts{local.tm_year + 1900,
                      local.tm_mon + 1,
                      local.tm_mday,
                      local.tm_hour,
                      local.tm_min,
                      local.tm_sec,
                      0};
  parts.millisecond = static_cast<int>(now.tv_nsec / 1'000'000);
  // A leap second (tm_sec 60) is held as the last millisecond of its minute.
  if (parts.second > 59) parts.second = 59, parts.millisecond = 999;
  return parts;
}

std::string ExecutableFolder() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return ".";
  return exe.parent_path().string();
}

std::optional<std::string> EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

std::string MachineName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace lumirex
