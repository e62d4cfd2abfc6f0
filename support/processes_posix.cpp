#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "support/processes.hpp"

namespace lumirex {

std::int64_t ThisProcessId() noexcept {
  return ::getpid();
}

bool ProcessEnded(std::int64_t id) noexcept {
  // Only ESRCH says it is gone: EPERM is another user's process, alive.
  return ::kill(static_cast<pid_t>(id), 0) != 0 && errno == ESRCH;
}

std::string ThisUserName() {
  if (const passwd* user = ::getpwuid(::geteuid())) return user->pw_name;
  return "uid " + std::to_string(::geteuid());
}

}  // namespace lumirex
