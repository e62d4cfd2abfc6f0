#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/doctor/file_access.hpp"

namespace lumirex::cli::doctor {

namespace {

std::string Refusal(const std::filesystem::path& path, int mode) {
  return ::access(path.c_str(), mode) == 0 ? "" : std::strerror(errno);
}

}  // namespace

std::string WriteRefusal(const std::filesystem::path& folder) {
  return Refusal(folder, W_OK | X_OK);
}

std::string EnterRefusal(const std::filesystem::path& folder) {
  return Refusal(folder, X_OK);
}

AppendTry TryAppend(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat status {};
  const bool regular = fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  const int error = errno;
  if (fd >= 0) ::close(fd);
  // A FIFO without a reader refuses a non-blocking opening with ENXIO.
  if (fd < 0 && error != ENXIO) return {AppendTry::Outcome::Refused, std::strerror(error)};
  return {regular ? AppendTry::Outcome::Regular : AppendTry::Outcome::NotRegular, ""};
}

}  // namespace lumirex::cli::doctor
