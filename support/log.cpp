#include "support/log.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/settings.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
  throw IOError("cannot " + std::string(what) + " the integration log '" + path +
                "': " + std::generic_category().message(error));
}

std::string BaseFolder() {
  std::string base = settings::BaseDir();
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base.empty() ? "." : base;
}

// The open log file; closed on every path, but only Close() reports a failure.
class LogFile {
 public:
  explicit LogFile(const std::string& path) : path_(path) {
    fd_ = Open();
    if (fd_ < 0 && errno == ENOENT) {
      // Only the first line of a day (or of a year, or ever) gets here, so
      // the folders are looked at only when they may be missing.
      std::error_code error;
      std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), error);
      if (error) Fail("create the folder of", path_, error.value());
      fd_ = Open();
    }
    if (fd_ < 0) Fail("open", path_, errno);
  }
  ~LogFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // The whole line in one write, so lines of two processes never interleave;
  // only a partial write (a full disk, a signal) takes another round.
  void Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) Fail("write", path_, errno);
      if (written == 0) Fail("write", path_, ENOSPC);
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
  }

  void Close() {
    const int fd = fd_;
    fd_ = -1;
    // After EINTR Linux has released the descriptor already; retrying could
    // close a descriptor another thread just opened.
    if (::close(fd) != 0 && errno != EINTR) Fail("close", path_, errno);
  }

 private:
  int Open() const {
    return ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }

  std::string path_;
  int fd_ = -1;
};

}  // namespace

std::string LogFilePathFor(double dateTime) {
  const DateTimeParts p = DecodeDateTime(dateTime);
  std::string path = BaseFolder();
  path += "/Dados/LogIntegracaoOrvo/LogIntegracaoOrvo_";
  AppendZeroPadded(path, p.year, 4);
  path += "/LogIntegracaoOrvo_";
  AppendZeroPadded(path, p.day, 2);
  AppendZeroPadded(path, p.month, 2);
  path += ".txt";
  return path;
}

void WriteLogLine(std::string_view message) {
  // One reading of the clock, so a line written at midnight lands in the file
  // of the day its time stamp shows.
  const double now = Now();
  std::string line = DateTimeToStr(now);
  line += " - ";
  line += message;
  line += "\r\n";
  LogFile file(LogFilePathFor(now));
  file.Write(line);
  file.Close();
}

}  // namespace lumirex
