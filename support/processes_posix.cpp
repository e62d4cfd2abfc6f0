#include <pwd.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>

#include "support/processes.hpp"

namespace lumirex {

namespace {

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

std::int64_t ThisProcessId() noexcept {
  return ::getpid();
}

std::int64_t ProcessStartTime(std::int64_t id) noexcept {
  try {
    const std::string stat = FirstLine("/proc/" + std::to_string(id) + "/stat");
    // The name in parentheses may hold spaces and parentheses; the fields
    // after its last ')' start at the third, the state; the 22nd is the start.
    const std::size_t name = stat.rfind(')');
    if (name == std::string::npos) return 0;
    std::istringstream fields(stat.substr(name + 1));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number) {
      if (number == 22) return std::stoll(field);
    }
  } catch (...) {
    // Unreadable (gone, or /proc hidden): not known.
  }
  return 0;
}

std::string ThisBoot() {
  try {
    const std::string boot = FirstLine("/proc/sys/kernel/random/boot_id");
    if (boot.empty()) return {};
    // Two containers share the kernel's boot but not their process ids.
    char space[PATH_MAX] = {};
    const ssize_t size = ::readlink("/proc/self/ns/pid", space, sizeof space - 1);
    return boot + (size > 0 ? " " + std::string(space, static_cast<std::size_t>(size)) : "");
  } catch (...) {
    return {};
  }
}

std::int64_t SecondsSinceBoot() noexcept {
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  return now.tv_sec;
}

bool ProcessEnded(std::int64_t id, std::int64_t start) noexcept {
  if (id <= 0 || id > INT_MAX) return false;
  // Only ESRCH says it is gone: EPERM is another user's process, alive.
  if (::kill(static_cast<pid_t>(id), 0) != 0 && errno == ESRCH) return true;
  if (start == 0) return false;
  // The id given to a later process: the one that claimed is gone.
  const std::int64_t now = ProcessStartTime(id);
  return now != 0 && now != start;
}

std::string ThisUserName() {
  if (const passwd* user = ::getpwuid(::geteuid())) return user->pw_name;
  return "uid " + std::to_string(::geteuid());
}

}  // namespace lumirex
