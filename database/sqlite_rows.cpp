#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <cstdint>
#include <string_view>

#include "database/result_rows.hpp"
#include "support/errors.hpp"
#include "support/text.hpp"

namespace lumirex::result_rows {
namespace {

using namespace sqlite_api;

bool Contains(std::string_view text, std::string_view part) {
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
    if (EqualsIgnoringCase(text.substr(i, part.size()), part)) return true;
  }
  return false;
}

// SQLite's affinity rules for a declared type, with DATE and TIME first:
// those columns hold date-time texts.
ColumnKind KindOfDeclaredType(const char* declared) {
  if (declared == nullptr) return ColumnKind::None;
  const std::string_view type = declared;
  if (Contains(type, "DATE") || Contains(type, "TIME")) return ColumnKind::DateTime;
  if (Contains(type, "INT")) return ColumnKind::Integer;
  if (Contains(type, "CHAR") || Contains(type, "CLOB") || Contains(type, "TEXT")) {
    return ColumnKind::Text;
  }
  if (type.empty() || Contains(type, "BLOB")) return ColumnKind::None;
  return ColumnKind::Real;
}

std::string Bytes(const void* data, int size) {
  return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), size);
}

// The value as SQLite stores it in this row, whatever the column declares.
FieldValue ReadValue(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL:
      return std::monostate{};
    case SQLITE_INTEGER:
      return static_cast<std::int64_t>(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
      return sqlite3_column_double(statement, column);
    case SQLITE_BLOB: {
      const void* data = sqlite3_column_blob(statement, column);
      return Bytes(data, sqlite3_column_bytes(statement, column));
    }
    default: {
      const void* data = sqlite3_column_text(statement, column);
      return Bytes(data, sqlite3_column_bytes(statement, column));
    }
  }
}

}  // namespace

Result ReadSqliteRows(soci::statement& statement) {
  sqlite3_stmt* handle =
      static_cast<soci::sqlite3_statement_backend*>(statement.get_backend())->stmt_;

  std::vector<Column> columns(sqlite3_column_count(handle));
  for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
    const char* name = sqlite3_column_name(handle, i);
    columns[i] = Column{name ? name : "", KindOfDeclaredType(sqlite3_column_decltype(handle, i))};
  }

  std::vector<TClientDataSet::Row> rows;
  for (;;) {
    const int rc = sqlite3_step(handle);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) throw DatabaseError(sqlite3_errmsg(sqlite3_db_handle(handle)));
    TClientDataSet::Row& row = rows.emplace_back();
    row.reserve(columns.size());
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) row.push_back(ReadValue(handle, i));
  }
  std::vector<FieldDef> defs = SettleSqliteColumns(columns, rows);
  return Result{std::move(defs), std::move(rows)};
}

}  // namespace lumirex::result_rows
