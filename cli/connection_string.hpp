// Reading settings out of the library's connection strings, for showing and
// checking them; the connection itself reads them its own way.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumirex::cli {

enum class DatabaseScheme { Sqlite, Odbc, Unknown };

DatabaseScheme SchemeOf(std::string_view connection);

// --db as the user typed it: a connection string as it is, a bare path (no
// "://") as the SQLite file opened read-only, as the Python Client takes it.
std::string ConnectionFromOption(std::string_view option);

// What follows "sqlite3://" or "odbc://".
std::string_view AfterScheme(std::string_view connection);

// A SQLite option ("db") from blank-separated key=value pairs; a value may be
// quoted with ' or ". Keys are matched exactly, as SQLite's backend does.
std::optional<std::string> SqliteOption(std::string_view options, std::string_view key);

// An ODBC attribute from "KEY=value;KEY={value; with braces}", the key
// matched in any case; braces are taken off.
std::optional<std::string> OdbcAttribute(std::string_view attributes, std::string_view key);

}  // namespace lumirex::cli
