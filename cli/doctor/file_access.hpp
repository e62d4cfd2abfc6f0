// What the folder checks ask of the system for the user running the doctor:
// whether a folder may be written and entered, and how the day's log opens
// for appending. One source file per system.
#pragma once

#include <filesystem>
#include <string>

namespace lumirex::cli::doctor {

// Why this user may not make files and folders in `folder`, or "" when it may.
std::string WriteRefusal(const std::filesystem::path& folder);

// Why this user may not enter `folder`, or "" when it may.
std::string EnterRefusal(const std::filesystem::path& folder);

// The log file opened for appending as the library opens it (a link not
// followed, no waiting on a FIFO) and closed at once, never written.
struct AppendTry {
  enum class Outcome { Regular, NotRegular, Refused } outcome;
  std::string error;  // for Refused
};
AppendTry TryAppend(const std::filesystem::path& file);

}  // namespace lumirex::cli::doctor
