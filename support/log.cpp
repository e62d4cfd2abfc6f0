#include "support/log.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <initializer_list>
#include <system_error>

#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/file_owner.hpp"
#include "support/log_format.hpp"
#include "support/settings.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
  throw IOError("cannot " + std::string(what) + " the integration log '" + path +
                "': " + std::generic_category().message(error));
}

std::string Folder(std::string_view base) {
  while (base.size() > 1 && base.back() == '/') base.remove_suffix(1);
  return base.empty() ? std::string(".") : std::string(base);
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

// Run as root, the log's three folders and the file get the base folder's
// owner, top down; this also mends a till whose log a root run made before.
void GiveToBaseOwner(const std::string& path, int fd) {
  if (::geteuid() != 0) return;
  const std::filesystem::path year = std::filesystem::path(path).parent_path();
  for (const auto& folder : {year.parent_path().parent_path(), year.parent_path(), year}) {
    TakeFolderOwner(folder.string());
  }
  TakeFolderOwner(path, fd);
}

}  // namespace

namespace log_file {

// The open log file; closed on every path, but only Close() reports a failure.
class LogFile {
 public:
  LogFile(std::string baseDir, const DateTimeParts& day) : LogFile(LogFilePathIn(baseDir, day)) {
    baseDir_ = std::move(baseDir);
    year_ = day.year;
    month_ = day.month;
    day_ = day.day;
  }

  explicit LogFile(const std::string& path) : path_(path) {
    fd_ = Open();
    if (fd_ < 0 && errno == ENOENT) {
      // Only the first line of a day (or of a year, or ever) gets here, so
      // the folders are looked at only when they may be missing.
      CreateFolders(std::filesystem::path(path_).parent_path(), path_);
      fd_ = Open();
    }
    if (fd_ < 0) Fail("open", path_, errno);
    RequireRegularFile();
    GiveToBaseOwner(path_, fd_);
  }
  ~LogFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // The pieces of a line in one write, so lines of two processes never
  // interleave; only a partial write (a full disk, a signal) takes another
  // round. Written as they lie, they are never copied into one text: a line
  // can hold a whole answer of the service.
  void Write(std::initializer_list<std::string_view> pieces) {
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

  // Whether a line of this moment under this base folder belongs in this file.
  bool Holds(const std::string& baseDir, const DateTimeParts& now) const {
    return now.day == day_ && now.month == month_ && now.year == year_ && baseDir == baseDir_;
  }

  // The line's time stamp and separator, made again only when the second
  // (or the date-only stamp of midnight) changes: a call's lines share a few.
  std::string_view StampOf(const DateTimeParts& now) {
    if (stamp_.empty() || !SameStamp(now, stamped_)) {
      stamp_ = DateTimeToStr(now);
      stamp_ += log_format::kStampSeparator;
      stamped_ = now;
    }
    return stamp_;
  }

  void Close() {
    const int fd = fd_;
    fd_ = -1;
    // After EINTR Linux has released the descriptor already; retrying could
    // close a descriptor another thread just opened.
    if (::close(fd) != 0 && errno != EINTR) Fail("close", path_, errno);
  }

 private:
  // A link is not followed, so nobody who can write into the log's folder
  // steers our lines into a file of their choice; O_NONBLOCK keeps a FIFO at
  // the day's path from holding the call (and its lock) for good.
  int Open() const {
    return ::open(path_.c_str(),
                  O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, kFileMode);
  }

  // Only a regular file is appended to: a device, a FIFO or a socket at the
  // day's path is someone else's.
  void RequireRegularFile() const {
    struct stat status {};
    if (::fstat(fd_, &status) != 0) Fail("examine", path_, errno);
    if (!S_ISREG(status.st_mode)) {
      throw IOError("cannot write the integration log '" + path_ + "': not a regular file");
    }
  }

  static bool SameStamp(const DateTimeParts& a, const DateTimeParts& b) {
    const bool aMidnight = a.hour == 0 && a.minute == 0 && a.second == 0 && a.millisecond == 0;
    const bool bMidnight = b.hour == 0 && b.minute == 0 && b.second == 0 && b.millisecond == 0;
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
           a.minute == b.minute && a.second == b.second && aMidnight == bMidnight;
  }

  std::string path_;
  int fd_ = -1;
  std::string baseDir_;
  int year_ = 0, month_ = 0, day_ = 0;
  std::string stamp_;
  DateTimeParts stamped_;
};

}  // namespace log_file

namespace {

using log_file::LogFile;

// The innermost session of this thread, if any.
thread_local LogSession* currentSession = nullptr;

}  // namespace

std::string LogFilePathFor(double dateTime) {
  return LogFilePathIn(settings::BaseDir(), dateTime);
}

std::string LogFilePathIn(std::string_view baseFolder, double dateTime) {
  return LogFilePathIn(baseFolder, DecodeDateTime(dateTime));
}

std::string LogFilePathIn(std::string_view baseFolder, const DateTimeParts& p) {
  std::string path = Folder(baseFolder);
  path += "/Dados/LogIntegracaoOrvo/LogIntegracaoOrvo_";
  AppendZeroPadded(path, p.year, 4);
  path += "/LogIntegracaoOrvo_";
  AppendZeroPadded(path, p.day, 2);
  AppendZeroPadded(path, p.month, 2);
  path += ".txt";
  return path;
}

void WriteLogLine(std::string_view message) {
  WriteLogLine(message, {});
}

void WriteLogLine(std::string_view label, std::string_view text) {
  // One reading of the clock, so a line written at midnight lands in the file
  // of the day its time stamp shows.
  const DateTimeParts now = DecodeDateTime(Now());
  std::string baseDir = settings::BaseDir();
  LogSession* session = currentSession;
  if (session == nullptr) {
    LogFile file(std::move(baseDir), now);
    file.Write({file.StampOf(now), label, text, "\r\n"});
    file.Close();
    return;
  }
  if (session->file_ && !session->file_->Holds(baseDir, now)) {
    // Past midnight, or another base folder: the file before is done with.
    const std::unique_ptr<LogFile> done = std::move(session->file_);
    done->Close();
  }
  if (!session->file_) session->file_ = std::make_unique<LogFile>(std::move(baseDir), now);
  try {
    session->file_->Write({session->file_->StampOf(now), label, text, "\r\n"});
  } catch (...) {
    session->file_.reset();
    throw;
  }
}

LogSession::LogSession() noexcept : outer_(currentSession) {
  currentSession = this;
}

LogSession::~LogSession() {
  currentSession = outer_;
}

}  // namespace lumirex
