#include <soci/odbc/soci-odbc.h>
#include <soci/soci.h>

#include <array>
#include <optional>

#include "database/odbc_session.hpp"
#include "database/result_rows.hpp"
#include "dataset/field_values.hpp"
#include "support/datetime.hpp"
#include "support/errors.hpp"

namespace lumirex::result_rows {
namespace {

void Check(SQLRETURN rc, SQLHSTMT statement) {
  if (!SQL_SUCCEEDED(rc)) throw DatabaseError(odbc::Diagnostics(SQL_HANDLE_STMT, statement));
}

ColumnKind KindOfSqlType(SQLSMALLINT type) {
  switch (type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return ColumnKind::Integer;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return ColumnKind::Real;
    case SQL_DATE:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
      return ColumnKind::DateTime;
    default:
      // Times of day, texts and anything else the driver can write as text.
      return ColumnKind::Text;
  }
}

// Described after execution: the SQLite driver can only guess an expression's
// type once it has a row.
std::vector<Column> Describe(SQLHSTMT statement) {
  SQLSMALLINT count = 0;
  Check(SQLNumResultCols(statement, &count), statement);
  std::vector<Column> columns;
  for (SQLUSMALLINT number = 1; number <= count; ++number) {
    std::vector<SQLCHAR> name(128);
    SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    for (;;) {
      Check(SQLDescribeCol(statement, number, name.data(), static_cast<SQLSMALLINT>(name.size()),
                           &length, &type, &size, &digits, &nullable),
            statement);
      if (static_cast<std::size_t>(length) < name.size()) break;
      name.resize(length + 1);
    }
    columns.push_back(Column{std::string(reinterpret_cast<const char*>(name.data()), length),
                             KindOfSqlType(type)});
  }
  return columns;
}

// A text of any length, in chunks: a fixed buffer would either cut long
// values or cost a huge allocation per column.
std::optional<std::string> ReadText(SQLHSTMT statement, SQLUSMALLINT column) {
  std::string text;
  std::array<char, 4096> chunk{};
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc =
        SQLGetData(statement, column, SQL_C_CHAR, chunk.data(), chunk.size(), &indicator);
    if (rc == SQL_NO_DATA) return text;
    Check(rc, statement);
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    // A full chunk ends in its terminating zero, and the rest follows.
    const bool full = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(chunk.size());
    text.append(chunk.data(), full ? chunk.size() - 1 : static_cast<std::size_t>(indicator));
    if (!full) return text;
  }
}

template <typename T>
std::optional<T> ReadFixed(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType) {
  T value{};
  SQLLEN indicator = 0;
  Check(SQLGetData(statement, column, cType, &value, sizeof value, &indicator), statement);
  if (indicator == SQL_NULL_DATA) return std::nullopt;
  return value;
}

FieldValue ReadDateTime(SQLHSTMT statement, SQLUSMALLINT column, const std::string& name) {
  const auto stamp = ReadFixed<SQL_TIMESTAMP_STRUCT>(statement, column, SQL_C_TYPE_TIMESTAMP);
  if (!stamp) return std::monostate{};
  const DateTimeParts parts{.year = stamp->year,
                            .month = stamp->month,
                            .day = stamp->day,
                            .hour = stamp->hour,
                            .minute = stamp->minute,
                            .second = stamp->second,
                            .millisecond = static_cast<int>(stamp->fraction / 1000000)};
  const auto value = EncodeDateTime(parts);
  if (!value) throw DatabaseError("column " + name + " holds a date-time out of range");
  return *value;
}

template <typename T>
FieldValue OrNull(std::optional<T> value) {
  if (!value) return std::monostate{};
  return *value;
}

FieldValue ReadTyped(SQLHSTMT statement, SQLUSMALLINT number, const Column& column) {
  switch (column.kind) {
    case ColumnKind::Integer: {
      const auto value = ReadFixed<SQLBIGINT>(statement, number, SQL_C_SBIGINT);
      return value ? FieldValue(static_cast<std::int64_t>(*value)) : FieldValue();
    }
    case ColumnKind::Real:
      return OrNull(ReadFixed<double>(statement, number, SQL_C_DOUBLE));
    case ColumnKind::DateTime:
      return ReadDateTime(statement, number, column.name);
    default:
      return OrNull(ReadText(statement, number));
  }
}

// SQLite through its driver: the text SQLite gives, a number again where the
// column holds numbers, so the value is not cut to the type the driver
// guessed from the first row.
FieldValue ReadSqliteText(SQLHSTMT statement, SQLUSMALLINT number, const Column& column) {
  std::optional<std::string> text = ReadText(statement, number);
  if (!text) return std::monostate{};
  if (column.kind == ColumnKind::Integer || column.kind == ColumnKind::Real) {
    if (auto integer = field_values::ParseInteger(*text)) return *integer;
    if (auto decimal = field_values::ParsePointDecimal(*text)) return *decimal;
  }
  return std::move(*text);
}

}  // namespace

Result ReadOdbcRows(soci::statement& statement, bool sqliteBehind) {
  SQLHSTMT handle = static_cast<soci::odbc_statement_backend*>(statement.get_backend())->hstmt_;

  const std::vector<Column> columns = Describe(handle);
  std::vector<TClientDataSet::Row> rows;
  // A statement without a result set has no cursor to fetch from.
  while (!columns.empty()) {
    const SQLRETURN rc = SQLFetch(handle);
    if (rc == SQL_NO_DATA) break;
    Check(rc, handle);
    TClientDataSet::Row& row = rows.emplace_back();
    row.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const auto number = static_cast<SQLUSMALLINT>(i + 1);
      row.push_back(sqliteBehind ? ReadSqliteText(handle, number, columns[i])
                                 : ReadTyped(handle, number, columns[i]));
    }
  }
  if (sqliteBehind) {
    std::vector<FieldDef> defs = SettleSqliteColumns(columns, rows);
    return Result{std::move(defs), std::move(rows)};
  }
  std::vector<FieldDef> defs;
  for (const Column& column : columns) {
    defs.push_back(FieldDef{.name = column.name, .type = FieldTypeOf(column.kind)});
  }
  return Result{std::move(defs), std::move(rows)};
}

}  // namespace lumirex::result_rows
