#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "outbox/outbox_file.hpp"
#include "support/file_owner.hpp"

namespace lumirex::outbox {

bool MakeOrCheckFile(const std::string& path, bool create) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) {
    if (S_ISLNK(status.st_mode)) RefuseFile(path, "it is a symbolic link");
    if (!S_ISREG(status.st_mode)) RefuseFile(path, "it is not a regular file");
    return false;
  }
  if (errno != ENOENT || !create) RefuseFile(path, std::generic_category().message(errno));
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) return MakeOrCheckFile(path, false);  // another till made it
  if (fd < 0) RefuseFile(path, std::generic_category().message(errno));
  // Made by root (a sender or a support tool) under a till's folder, the file
  // must stay the till's, or its next sale could not be kept.
  TakeFolderOwner(path, fd);
  ::close(fd);
  return true;
}

void KeepPrivate(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const int fd = ::open((path + suffix).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & 077) != 0) {
      (void)::fchmod(fd, status.st_mode & 0700);
    }
    ::close(fd);
  }
}

std::string SqliteFileName(const std::string& path) {
  return path;
}

}  // namespace lumirex::outbox
