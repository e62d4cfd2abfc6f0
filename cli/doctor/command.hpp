// `lumirex doctor`: the till's set-up checked in one go, one line a check.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <string>

namespace lumirex::cli {

struct DoctorOptions {
  std::optional<std::string> baseDir, database, url, caFile, outbox;
  std::string cpf;
  bool json = false;
};

// The subcommand and its options, bound to `options`.
CLI::App* AddDoctorSubcommand(CLI::App& app, DoctorOptions& options);

// Hands the settings to the library as a till's host would, runs every check
// and prints one line each ("✓ name  detail", a failure with what to change),
// or with --json {"ok": ..., "checks": [{"name", "ok", "detail", "fix"}]}.
// Returns 0 when every check passed, 1 otherwise.
int RunDoctor(const DoctorOptions& options, std::ostream& out);

}  // namespace lumirex::cli
