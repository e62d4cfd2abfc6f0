// The checks of `lumirex doctor`: a till's set-up looked at the way the
// library will use it. Each check is a function returning its results; none
// writes to the log, the database or the service beyond what it says.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumirex::cli::doctor {

// One line of the report. A check that does not apply passes with a detail
// saying why ("not used: ...").
struct CheckResult {
  std::string name;
  bool ok = true;
  std::string detail;  // what was found, UTF-8
  std::string fix;     // for a failure: what to change, naming the setting
};

using Results = std::vector<CheckResult>;

// A setting with where it came from, so a failure can name what to change.
struct Setting {
  enum class From { Option, Environment, Default };
  std::string value;
  From from = From::Default;
  std::string option;    // "--db"
  std::string variable;  // "LUMIREX_DB"

  // The option when given, else the variable when set, else `fallback`.
  static Setting Resolve(std::optional<std::string> given, std::string option, std::string variable,
                         std::string fallback);

  // "--db", "LUMIREX_DB" or "the default".
  std::string Source() const;
  // "--db points at X" or "LUMIREX_DB points at X", X the value or `shown`
  // when given; for the default, `defaultText` (which names X itself).
  std::string PointsAt(const std::string& defaultText, const std::string& shown = "") const;
  // "give --db <what>", "set LUMIREX_DB to <what>", or both ways for the default.
  std::string Change(const std::string& what) const;
};

struct DoctorSettings {
  Setting baseDir;  // absolute
  Setting database;
  std::optional<Setting> url;
  std::optional<Setting> caFile;
  std::optional<Setting> outbox;
  std::string cpf;  // "" sends no customer query
};

// Run as root, the checks that follow run as the user who owns the base
// folder (the till's user), for good: what root may do proves nothing about
// the till. Says who the checks run as.
CheckResult RunAsTillUser(const DoctorSettings& settings);

// Masks every password of the URL and the connection string in the results'
// texts, wherever a message may have repeated one.
void HideSecrets(Results& results, const DoctorSettings& settings);

// The base folder, the log folder, today's log file (opened for appending
// and closed, never written) and the free space under them. The log file is
// the one the library names, so the base folder must have been handed to it.
Results CheckFolders(const DoctorSettings& settings);

// The connection string (password masked), a read-only opening, the tables
// and columns the sale queries read, the dialect, and the sale header query
// run with a key no sale has. A SQLite file that is not there is reported,
// never created.
Results CheckDatabase(const DoctorSettings& settings);

// For an odbc:// connection string: the driver registered with the driver
// manager and the client character set, as far as they are known.
Results CheckOdbc(const DoctorSettings& settings);

// The outbox when one is set: it opens, how many reports wait, the oldest.
Results CheckOutbox(const DoctorSettings& settings);

// Whether the command's own calls forward waiting reports by themselves
// (LUMIREX_FORWARDING), and the service's state as the library last noted it
// in the outbox.
Results CheckForwarding(const DoctorSettings& settings);

// The base URL, its name, a TCP connection, TLS against the configured
// authority, and, with a CPF, a customer query through the library.
Results CheckService(const DoctorSettings& settings);

}  // namespace lumirex::cli::doctor
