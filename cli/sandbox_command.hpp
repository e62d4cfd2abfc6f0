// `lumirex sandbox`: the sandbox loyalty service, stand-alone.
#pragma once

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace lumirex::cli {

struct SandboxOptions {
  int port = 0;
  std::string host = "127.0.0.1";
  std::string fixture;
  std::string basePath;             // "" serves under any prefix
  std::vector<std::string> faults;  // MODE or MODE=N, combined
  double faultRate = 1.0;
  int latencyMs = 0;
  bool verbose = false;
};

// The service could not listen (the port is taken, the address is not this
// machine's).
constexpr int kExitCannotServe = 2;

// Declares the subcommand's options on sub.
void AddSandboxOptions(CLI::App& sub, SandboxOptions& options);

// Serves (port 0: a free one), prints the base URL as the first line of out,
// with --verbose one line per request after it, and returns 0 after SIGINT or
// SIGTERM. UsageError for a fixture file that cannot be read or is not a
// fixture, and for an unknown fault mode; std::runtime_error when it cannot
// listen.
int ServeSandbox(const SandboxOptions& options, std::ostream& out);

}  // namespace lumirex::cli
