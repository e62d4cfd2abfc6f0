// The base folder, the log folder, today's log file and the free space.
#include <filesystem>
#include <string>

#include "cli/doctor/checks.hpp"
#include "cli/doctor/file_access.hpp"
#include "cli/host_encoding.hpp"
#include "lumirex/lumirex.hpp"
#include "support/path_text.hpp"

namespace lumirex::cli::doctor {

namespace {

namespace fs = std::filesystem;

// Below this the log may fill the disk within a busy day: a call writes its
// request and the whole answer.
constexpr unsigned long long kLowSpaceBytes = 64ull * 1024 * 1024;

// The path itself when it exists, else its nearest ancestor that does.
fs::path NearestExisting(fs::path path) {
  std::error_code error;
  while (!fs::exists(path, error) && path.has_relative_path()) path = path.parent_path();
  return path;
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
    result.detail = folder == FileSystemPath(base.value)
                        ? base.PointsAt(BaseDefault(base)) + ", which is a file, not a folder"
                        : PathText(folder) + " cannot be made: " + PathText(existing) +
                              " is a file, not a folder";
    result.fix = fix;
    return result;
  }
  if (const std::string refusal = WriteRefusal(existing); !refusal.empty()) {
    result.ok = false;
    result.detail = PathText(existing) + " is not writable: " + refusal;
    result.fix = "make " + PathText(existing) + " writable for this user, or " + fix;
    return result;
  }
  result.detail = existing == folder ? PathText(folder) + " is there and writable"
                                     : PathText(folder) + " is not there yet; " +
                                           PathText(existing) + " is writable, so it can be made";
  return result;
}

// The base folder is only passed through: the library writes into the log
// folder under it, so a read-only base folder whose log folder is there and
// writable is sound, and one without it shows in the log folder's check.
CheckResult BaseFolderCheck(const Setting& base) {
  const fs::path folder = FileSystemPath(base.value);
  std::error_code error;
  if (!fs::exists(folder, error)) return FolderCheck("base folder", folder, base);
  if (!fs::is_directory(folder, error)) {
    return {"base folder", false,
            base.PointsAt(BaseDefault(base)) + ", which is a file, not a folder",
            base.Change("a folder this user can write to")};
  }
  if (const std::string refusal = EnterRefusal(folder); !refusal.empty()) {
    return {"base folder", false, PathText(folder) + " cannot be entered: " + refusal,
            "give this user search (x) permission on " + PathText(folder) + ", or " +
                base.Change("a folder this user can write to")};
  }
  // The doctor's folder is not always the till's: the library in the host
  // takes the one the host names, else LUMIREX_BASE_DIR in the host's
  // environment, else its program's own folder.
  return {"base folder", true,
          PathText(folder) +
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
    result.detail = folderOk ? PathText(file) + " is not there yet; the day's first call makes it"
                             : PathText(file) + " cannot be made (see the log folder)";
    result.fix = folder.fix;
    return result;
  }
  // Opened for appending and closed at once: no line is added to the day's log.
  const AppendTry opened = TryAppend(file);
  const bool isLink = fs::is_symlink(file, ec);
  if (opened.outcome == AppendTry::Outcome::Refused && !isLink) {
    result.ok = false;
    result.detail = PathText(file) + " cannot be opened for appending: " + opened.error;
    result.fix = "make " + PathText(file) + " writable for this user";
    return result;
  }
  if (isLink || opened.outcome != AppendTry::Outcome::Regular) {
    result.ok = false;
    result.detail = PathText(file) + (isLink ? " is a symbolic link" : " is not a regular file") +
                    ", which the library refuses to write to";
    result.fix = "remove " + PathText(file) + "; the day's next call makes the log file again";
    return result;
  }
  result.detail = PathText(file) + " opens for appending";
  return result;
}

CheckResult FreeSpaceCheck(const fs::path& folder) {
  CheckResult result{"free space", true, "", ""};
  const fs::path existing = NearestExisting(folder);
  std::error_code error;
  const fs::space_info space = fs::space(existing, error);
  if (error) {
    result.ok = false;
    result.detail =
        "cannot tell the free space under " + PathText(existing) + ": " + error.message();
    return result;
  }
  const unsigned long long bytes = space.available;
  result.detail = std::to_string(bytes / (1024 * 1024)) + " MiB free under " + PathText(existing);
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
  fs::path logFile;
  {
    PathsAsUtf8 paths;
    logFile = FileSystemPath(LogFilePath());
  }
  const fs::path logFolder = logFile.parent_path();
  Results results;
  results.push_back(BaseFolderCheck(settings.baseDir));
  results.push_back(FolderCheck("log folder", logFolder, settings.baseDir));
  results.push_back(LogFileCheck(logFile, results.back()));
  results.push_back(FreeSpaceCheck(logFolder));
  return results;
}

}  // namespace lumirex::cli::doctor
