#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "cli/replace_file.hpp"

namespace lumirex::cli {

namespace {

[[noreturn]] void Refuse(const std::string& path, int error) {
  throw std::runtime_error("cannot write '" + path +
                           "': " + std::generic_category().message(error));
}

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

void ReplaceFile(const std::string& folder, const std::string& name, std::string_view content) {
  const std::string path = folder + "/" + name;
  std::string temporary = folder + "/." + name + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) Refuse(path, errno);
  // mkostemp makes it 0600; the exporter reading it is another user.
  const bool written = ::fchmod(fd, 0644) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int failure = written ? errno : error;
    ::unlink(temporary.c_str());
    Refuse(path, failure);
  }
}

}  // namespace lumirex::cli
