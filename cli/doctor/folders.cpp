// The base folder, the log folder, today's log file and the free space.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli/doctor/checks.hpp"
#include "lumirex/lumirex.hpp"

namespace lumirex::cli::doctor {

namespace {

namespace fs = std::filesystem;

// Below this the log may fill the disk within a busy day: a call writes its
// request and the whole answer.
constexpr unsigned long long kLowSpaceBytes = 64ull * 1024 * 1024;

std::string SystemText(int error) {
  return std::strerror(error);
}

// The path itself when it exists, else its nearest ancestor that does.
fs::path NearestExisting(fs::path path) {
  std::error_code error;
  while (!fs::exists(path, error) && path.has_relative_path()) path = path.parent_path();
  return path;
}

bool Writable(const fs::path& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string BaseDefault(const Setting& base) {
  return "the base folder " + base.value + " (the current folder)";
}

// A folder the library writes into: there and writable, or makeable from
// its nearest existing ancestor.
CheckResult FolderCheck(const std::string& name, const fs::path& folder, const Setting& base) {
  CheckResult result{name, true, "", ""};
  const std::string fix = base.Change("a folder this user can write to");
  const fs::path existing = NearestExisting(folder);
  std::error_code error;
  if (!fs::is_directory(existing, error)) {
    result.ok = false;
    result.detail = folder == fs::path(base.value)
                        ? base.PointsAt(BaseDefault(base)) + ", which is a file, not a folder"
                        : folder.string() + " cannot be made: " + existing.string() +
                              " is a file, not a folder";
    result.fix = fix;
    return result;
  }
  if (!Writable(existing)) {
    result.ok = false;
    result.detail = existing.string() + " is not writable: " + SystemText(errno);
    result.fix = "make " + existing.string() + " writable for this user, or " + fix;
    return result;
  }
  result.detail = existing == folder ? folder.string() + " is there and writable"
                                     : folder.string() + " is not there yet; " + existing.string() +
                                           " is writable, so it can be made";
  return result;
}

// The base folder is only passed through: the library writes into the log
// folder under it, so a read-only base folder whose log folder is there and
// writable is sound, and one without it shows in the log folder's check.
CheckResult BaseFolderCheck(const Setting& base) {
  const fs::path folder = base.value;
  std::error_code error;
  if (!fs::exists(folder, error)) return FolderCheck("base folder", folder, base);
  if (!fs::is_directory(folder, error)) {
    return {"base folder", false,
            base.PointsAt(BaseDefault(base)) + ", which is a file, not a folder",
            base.Change("a folder this user can write to")};
  }
  if (::access(folder.c_str(), X_OK) != 0) {
    return {"base folder", false, folder.string() + " cannot be entered: " + SystemText(errno),
            "give this user search (x) permission on " + folder.string() + ", or " +
                base.Change("a folder this user can write to")};
  }
  // The doctor's folder is not always the till's: the library in the host
  // takes the one the host names, else LUMIREX_BASE_DIR in the host's
  // environment, else its program's own folder.
  return {"base folder", true,
          folder.string() +
              " is there; the till's library uses it only when the host names it "
              "(LumirexSetBaseDir) or sets LUMIREX_BASE_DIR, else the folder of the host's program",
          ""};
}

// The day's log opened as the library opens it, so what it refuses fails
// here too: a link is not followed, and a FIFO cannot hold the doctor.
CheckResult LogFileCheck(const fs::path& file, const CheckResult& folder) {
  const bool folderOk = folder.ok;
  CheckResult result{"log file", true, "", ""};
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec))) {
    result.ok = folderOk;
    result.detail = folderOk ? file.string() + " is not there yet; the day's first call makes it"
                             : file.string() + " cannot be made (see the log folder)";
    result.fix = folder.fix;
    return result;
  }
  // Opened for appending and closed at once: no line is added to the day's log.
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat status {};
  const bool regular = fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  const int error = errno;
  if (fd >= 0) ::close(fd);
  const bool isLink = fs::is_symlink(file, ec);
  if (fd < 0 && !isLink && error != ENXIO) {
    result.ok = false;
    result.detail = file.string() + " cannot be opened for appending: " + SystemText(error);
    result.fix = "make " + file.string() + " writable for this user";
    return result;
  }
  if (isLink || !regular) {
    result.ok = false;
    result.detail = file.string() + (isLink ? " is a symbolic link" : " is not a regular file") +
                    ", which the library refuses to write to";
    result.fix = "remove " + file.string() + "; the day's next call makes the log file again";
    return result;
  }
  result.detail = file.string() + " opens for appending";
  return result;
}

CheckResult FreeSpaceCheck(const fs::path& folder) {
  CheckResult result{"free space", true, "", ""};
  const fs::path existing = NearestExisting(folder);
  struct statvfs stats {};
  if (::statvfs(existing.c_str(), &stats) != 0) {
    result.ok = false;
    result.detail =
        "cannot tell the free space under " + existing.string() + ": " + SystemText(errno);
    return result;
  }
  const unsigned long long bytes = static_cast<unsigned long long>(stats.f_bavail) * stats.f_frsize;
  result.detail = std::to_string(bytes / (1024 * 1024)) + " MiB free under " + existing.string();
  if (bytes < kLowSpaceBytes) {
    result.ok = false;
    result.fix =
        "free space on that file system, or move the base folder; the log needs room "
        "for every call's request and answer";
  }
  return result;
}

}  // namespace

Results CheckFolders(const DoctorSettings& settings) {
  const fs::path logFile = LogFilePath();
  const fs::path logFolder = logFile.parent_path();
  Results results;
  results.push_back(BaseFolderCheck(settings.baseDir));
  results.push_back(FolderCheck("log folder", logFolder, settings.baseDir));
  results.push_back(LogFileCheck(logFile, results.back()));
  results.push_back(FreeSpaceCheck(logFolder));
  return results;
}

}  // namespace lumirex::cli::doctor
