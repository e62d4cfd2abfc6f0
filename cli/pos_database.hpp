// The demo's point-of-sale database, built from the project's SQL files.
#pragma once

#include <filesystem>
#include <vector>

namespace lumirex::cli {

// Where the SQL files are looked for, in order: <command's folder>/../share/
// lumirex/sql (an installed command), then the source tree it was built from;
// on Windows <command's folder>/sql.
std::vector<std::filesystem::path> SqlDirCandidates();

// The first candidate holding sqlite/pos-schema.sql; raises std::runtime_error
// naming every folder looked in when none does.
std::filesystem::path FindSqlDir();

// Creates a fresh SQLite database at file (replacing one that is there, and
// creating its folders) from sqlite/pos-schema.sql and sqlite/pos-demo.sql.
// Raises std::runtime_error with SQLite's message and the file's name.
void BuildDemoDatabase(const std::filesystem::path& sqlDir, const std::filesystem::path& file);

}  // namespace lumirex::cli
