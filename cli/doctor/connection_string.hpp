// Reading settings out of the library's connection strings, for the doctor to
// show and check them; the connection itself reads them its own way.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumirex::cli {

enum class DatabaseScheme { Sqlite, Odbc, Unknown };

DatabaseScheme SchemeOf(std::string_view connection);

// What follows "sqlite3://" or "odbc://".
std::string_view AfterScheme(std::string_view connection);

// A SQLite option ("db") from blank-separated key=value pairs; a value may be
// quoted with ' or ". Keys are matched exactly, as SQLite's backend does.
std::optional<std::string> SqliteOption(std::string_view options, std::string_view key);

// An ODBC attribute from "KEY=value;KEY={value; with braces}", the key
// matched in any case; braces are taken off.
std::optional<std::string> OdbcAttribute(std::string_view attributes, std::string_view key);

}  // namespace lumirex::cli
