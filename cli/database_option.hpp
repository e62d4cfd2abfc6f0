// The --db option of the command's subcommands.
#pragma once

#include <string>
#include <string_view>

namespace lumirex::cli {

// --db as the user typed it: a connection string as it is, a bare path (no
// "://") as the SQLite file opened read-only, as the Python Client takes it.
std::string ConnectionFromOption(std::string_view option);

}  // namespace lumirex::cli
