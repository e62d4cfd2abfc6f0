// Reading a query's result into typed rows, per database backend.
//
// SOCI's own row reading falls short here: it reads SQLite's INTEGER columns
// as 32-bit values, guesses a column's type from a declared type SQLite does
// not enforce, and through ODBC gives every long text column a 100 MB buffer
// while cutting expression texts at 255 bytes. So SOCI prepares, binds and
// executes the statement, and these readers fetch the rows through the
// backend's own handle.
#pragma once

#include <string>
#include <vector>

#include "dataset/dataset.hpp"

namespace soci {
class statement;
}

namespace lumirex::result_rows {

// What a column is declared to hold, as far as SQLite's loose typing lets us know.
enum class ColumnKind { None, Text, Integer, Real, DateTime };

struct Column {
  std::string name;
  ColumnKind kind = ColumnKind::None;
};

struct Result {
  std::vector<FieldDef> defs;
  std::vector<TClientDataSet::Row> rows;
};

// SOCI's backends come without type information, so the caller picks the
// reader by the session's backend name.

// The rows of an executed statement on the native SQLite backend.
Result ReadSqliteRows(soci::statement& statement);

// The rows of an executed statement on the ODBC backend. With sqliteBehind the
// data source is SQLite, whose driver guesses column types from the first
// row, so values are read as text and typed by what they hold.
Result ReadOdbcRows(soci::statement& statement, bool sqliteBehind);

// The field type of a column of that kind.
FieldType FieldTypeOf(ColumnKind kind);

// The field types of SQLite columns, settled by the values they hold: a
// column of whole numbers is LargeInt, of numbers Float, of date-time texts
// in a date-time column DateTime, and anything mixed String (numbers as their
// text). The rows' values are converted to fit.
std::vector<FieldDef> SettleSqliteColumns(const std::vector<Column>& columns,
                                          std::vector<TClientDataSet::Row>& rows);

}  // namespace lumirex::result_rows
