// `lumirex log`: a day's integration log as one line per call, or as JSON.
#pragma once

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>

namespace lumirex::cli {

struct LogOptions {
  std::string baseDir;  // "" for the current folder
  std::string date;     // yyyy-mm-dd; "" for today
  std::string file;     // a log file named directly, instead of base folder and date
  bool failed = false;
  bool all = false;  // with --failed, also the reports answered later
  std::string operation;
  std::string sale;  // FILIAL/CAIXA/SEQ
  std::string cpf;
  bool json = false;
};

// The file cannot be read (the day has no log, or it is not readable).
constexpr int kExitLogUnreadable = 2;

// Declares the subcommand's options on sub.
void AddLogOptions(CLI::App& sub, LogOptions& options);

// Prints the calls of the log that pass the filters; lines that belong to no
// call go to err (or into the JSON). Returns 0, or kExitLogUnreadable with
// the reason on err; UsageError for a malformed --date or --sale.
int ShowLog(const LogOptions& options, std::ostream& out, std::ostream& err);

}  // namespace lumirex::cli
