// One integration call through the public API, configured from the command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lumirex/lumirex.hpp"

namespace lumirex::cli {

// The options every call subcommand shares.
struct CallSettings {
  std::string url;                        // --url, else $LUMIREX_URL
  std::optional<std::string> connection;  // --db; the library's default otherwise
  std::string baseDir;                    // --base-dir; "" for the current folder
  std::optional<std::string> separator;   // --decimal-separator
  bool json = false;
};

struct CallRun {
  std::string operation;  // as the list names it, Windows-1252
  bool returned = false;
  Variant result;                     // the result array after the call
  std::vector<std::string> messages;  // operator messages, Windows-1252
  CallOutcome last;                   // what LastCall() said right after the call
  std::string logFile;
};

// Exit statuses of a call: the service accepted, declined, or the call failed.
constexpr int kExitAccepted = 0;
constexpr int kExitDeclined = 1;
constexpr int kExitCallFailed = 2;

// Hands the library the base folder, made absolute so the log's path reads
// the same from anywhere: `baseDir`, else the current folder (never the
// program's own folder, the library's default for a host that names none).
void UseBaseDir(const std::string& baseDir);

// Checks the settings (UsageError for a missing URL or a separator other than
// "," or ".") and hands them to the library: base folder made absolute, so the
// log's path reads the same from anywhere.
void ApplySettings(const CallSettings& settings);

// The library's outbox file, from the command's UTF-8 (see PathsAsUtf8):
// false when the outbox cannot be had, and LastCall() says why, in UTF-8.
bool SetOutboxFile(const std::string& file);

// The elements a host sizes its result array to: five for a customer query,
// two for every other operation.
std::size_t ResultSize(const std::string& operation);

// Makes the call with the operator messages captured instead of printed.
CallRun Call(std::vector<Variant> params);

// True when the call returned true and result element 0 (the error flag) is false.
bool Accepted(const CallRun& outcome);
int ExitStatus(const CallRun& outcome);

}  // namespace lumirex::cli
