// Who the checks run as: run as root, the owner of the base folder.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/doctor/checks.hpp"

namespace lumirex::cli::doctor {

namespace {

std::string UserName(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? std::string(entry->pw_name) : "uid " + std::to_string(uid);
}

// Takes on the user for good: groups, group, then user, so nothing of root
// stays that could make a check pass which the till would fail.
bool BecomeUser(uid_t uid, gid_t gid) {
  const passwd* entry = ::getpwuid(uid);
  const int groups = entry != nullptr ? ::initgroups(entry->pw_name, gid) : ::setgroups(0, nullptr);
  return groups == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0;
}

}  // namespace

CheckResult RunAsTillUser(const DoctorSettings& settings) {
  if (::geteuid() != 0) {
    return {"till user", true, UserName(::geteuid()) + " (the user running the doctor)", ""};
  }
  struct stat base {};
  if (::stat(settings.baseDir.value.c_str(), &base) != 0) {
    return {"till user", true,
            "run as root, and the base folder is not there to say whose it is: checked as root",
            ""};
  }
  const std::string owner = UserName(base.st_uid);
  if (base.st_uid == 0) {
    return {"till user", true, "root, the owner of the base folder " + settings.baseDir.value, ""};
  }
  if (!BecomeUser(base.st_uid, base.st_gid)) {
    return {"till user", false,
            "run as root, and cannot check as " + owner +
                ", the owner of the base folder: " + std::strerror(errno),
            "run the doctor as " + owner + " (sudo -u " + owner + " lumirex doctor ...)"};
  }
  return {"till user", true,
          owner + ", the owner of the base folder " + settings.baseDir.value +
              ": run as root, the doctor checks as that user",
          ""};
}

}  // namespace lumirex::cli::doctor
