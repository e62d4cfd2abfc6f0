#include "cli/doctor/connection_string.hpp"

#include "support/text.hpp"

namespace lumirex::cli {

namespace {

constexpr std::string_view kSqlite = "sqlite3://";
constexpr std::string_view kOdbc = "odbc://";

}  // namespace

DatabaseScheme SchemeOf(std::string_view connection) {
  if (StartsWithIgnoringCase(connection, kSqlite)) return DatabaseScheme::Sqlite;
  if (StartsWithIgnoringCase(connection, kOdbc)) return DatabaseScheme::Odbc;
  return DatabaseScheme::Unknown;
}

std::string_view AfterScheme(std::string_view connection) {
  switch (SchemeOf(connection)) {
    case DatabaseScheme::Sqlite:
      return connection.substr(kSqlite.size());
    case DatabaseScheme::Odbc:
      return connection.substr(kOdbc.size());
    case DatabaseScheme::Unknown:
      break;
  }
  return connection;
}

std::optional<std::string> SqliteOption(std::string_view options, std::string_view key) {
  std::size_t at = 0;
  while (at < options.size()) {
    while (at < options.size() && IsBlank(options[at])) ++at;
    const std::size_t equals = options.find('=', at);
    if (equals == std::string_view::npos) break;
    const std::string_view name = TrimBlanks(options.substr(at, equals - at));
    std::size_t start = equals + 1;
    std::size_t end = start;
    std::string value;
    if (start < options.size() && (options[start] == '"' || options[start] == '\'')) {
      end = options.find(options[start], start + 1);
      if (end == std::string_view::npos) end = options.size();
      value = options.substr(start + 1, end - start - 1);
      at = end + 1;
    } else {
      while (end < options.size() && !IsBlank(options[end])) ++end;
      value = options.substr(start, end - start);
      at = end;
    }
    if (name == key) return value;
  }
  return std::nullopt;
}

std::optional<std::string> OdbcAttribute(std::string_view attributes, std::string_view key) {
  std::size_t at = 0;
  while (at < attributes.size()) {
    const std::size_t equals = attributes.find('=', at);
    if (equals == std::string_view::npos) break;
    const std::string_view name = TrimBlanks(attributes.substr(at, equals - at));
    std::size_t end = equals + 1;
    std::string value;
    if (end < attributes.size() && attributes[end] == '{') {
      const std::size_t close = attributes.find('}', end);
      const std::size_t stop = close == std::string_view::npos ? attributes.size() : close;
      value = attributes.substr(end + 1, stop - end - 1);
      end = attributes.find(';', stop);
    } else {
      end = attributes.find(';', end);
      value = TrimBlanks(attributes.substr(equals + 1, end - equals - 1));
    }
    if (EqualsIgnoringCase(name, key)) return value;
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return std::nullopt;
}

}  // namespace lumirex::cli
