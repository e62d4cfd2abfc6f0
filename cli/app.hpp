// The `lumirex` command line: subcommands, options, help and exit statuses.
#pragma once

#include <ostream>

namespace lumirex::cli {

// Parses and runs one command line; returns the exit status: 0 the service
// accepted (or help was shown), 1 it declined, 2 the call failed, 64 a usage
// error, with a message on err that says what was wrong.
int RunApp(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace lumirex::cli
