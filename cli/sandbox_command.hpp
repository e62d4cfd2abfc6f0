// `lumirex sandbox`: the sandbox loyalty service, stand-alone.
#pragma once

#include <ostream>
#include <string>

namespace lumirex::cli {

// Serves on 127.0.0.1 (port 0: a free one), prints the base URL as the first
// line of out, and returns 0 after SIGINT or SIGTERM. The fixture file, when
// given, replaces the built-in customers; UsageError when it cannot be read
// or is not a fixture.
int ServeSandbox(int port, const std::string& fixtureFile, std::ostream& out);

}  // namespace lumirex::cli
