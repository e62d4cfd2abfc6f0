#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "support/errors.hpp"
#include "support/file_owner.hpp"
#include "support/log_file.hpp"

namespace lumirex::log_file {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
  throw IOError("cannot " + std::string(what) + " the integration log '" + path +
                "': " + std::generic_category().message(error));
}

// The log holds CPFs and customers' names: no access for other users of the
// machine, whatever the host's umask (which may take away more, never add).
constexpr mode_t kFolderMode = 0750;
constexpr mode_t kFileMode = 0640;

// The missing folders above the log file, each made with kFolderMode; one
// that appeared meanwhile (another till) is fine.
void CreateFolders(const std::filesystem::path& folder, const std::string& logPath) {
  std::error_code error;
  if (std::filesystem::is_directory(folder, error) || folder.empty()) return;
  const std::filesystem::path parent = folder.parent_path();
  if (parent != folder) CreateFolders(parent, logPath);
  if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) {
    Fail("create the folder of", logPath, errno);
  }
  TakeFolderOwner(folder.string());
}

// Only a regular file is appended to: a device, a FIFO or a socket at the
// day's path is someone else's. Returns the file's status.
struct stat RequireRegularFile(int fd, const std::string& path) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) Fail("examine", path, errno);
  if (!S_ISREG(status.st_mode)) {
    throw IOError("cannot write the integration log '" + path + "': not a regular file");
  }
  return status;
}

// The base folder of a log file's path: what is left without its file and
// its three folders.
std::string BaseFolderOf(const std::string& path) {
  std::size_t end = path.size();
  for (int i = 0; i < 4 && end != std::string::npos && end > 0; ++i) end = path.rfind('/', end - 1);
  return end == std::string::npos || end == 0 ? std::string("/") : path.substr(0, end);
}

// Run as root, the log's three folders and the file get the base folder's
// owner, top down; this also mends a till whose log a root run made before.
// Only a file of root's can need it (a root run gives the file away with the
// folders above it, and no other user can make one in root's folders), and
// only under a base folder of someone else's: so a till run as another user
// pays nothing, and one run as root one look at its base folder.
void GiveToBaseOwner(const std::string& path, int fd, const struct stat& file) {
  if (file.st_uid != 0) return;
  struct stat base {};
  if (::stat(BaseFolderOf(path).c_str(), &base) != 0 || base.st_uid == 0) return;
  if (::geteuid() != 0) return;
  const std::filesystem::path year = std::filesystem::path(path).parent_path();
  for (const auto& folder : {year.parent_path().parent_path(), year.parent_path(), year}) {
    TakeFolderOwner(folder.string());
  }
  TakeFolderOwner(path, fd);
}

}  // namespace

LogFile::LogFile(const std::string& path) : path_(path) {
  fd_ = Open();
  if (fd_ < 0 && errno == ENOENT) {
    // Only the first line of a day (or of a year, or ever) gets here, so
    // the folders are looked at only when they may be missing.
    CreateFolders(std::filesystem::path(path_).parent_path(), path_);
    fd_ = Open();
  }
  if (fd_ < 0) Fail("open", path_, errno);
  GiveToBaseOwner(path_, fd_, RequireRegularFile(fd_, path_));
}

LogFile::~LogFile() {
  if (fd_ >= 0) ::close(fd_);
}

// Only a partial write (a full disk, a signal) takes another round. Written
// as they lie, the pieces are never copied into one text: a line can hold a
// whole answer of the service.
void LogFile::Write(std::initializer_list<std::string_view> pieces) {
  std::array<iovec, 4> parts{};
  std::size_t count = 0;
  for (std::string_view piece : pieces) {
    if (!piece.empty()) parts.at(count++) = {const_cast<char*>(piece.data()), piece.size()};
  }
  iovec* next = parts.data();
  while (count > 0) {
    const ssize_t written = ::writev(fd_, next, static_cast<int>(count));
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) Fail("write", path_, errno);
    if (written == 0) Fail("write", path_, ENOSPC);
    auto done = static_cast<std::size_t>(written);
    for (; count > 0 && done >= next->iov_len; ++next, --count) done -= next->iov_len;
    if (count > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + done;
      next->iov_len -= done;
    }
  }
}

void LogFile::Close() {
  const int fd = fd_;
  fd_ = -1;
  // After EINTR Linux has released the descriptor already; retrying could
  // close a descriptor another thread just opened.
  if (::close(fd) != 0 && errno != EINTR) Fail("close", path_, errno);
}

// A link is not followed, so nobody who can write into the log's folder
// steers our lines into a file of their choice; O_NONBLOCK keeps a FIFO at
// the day's path from holding the call (and its lock) for good.
int LogFile::Open() const {
  return ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                kFileMode);
}

}  // namespace lumirex::log_file
