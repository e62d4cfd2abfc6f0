// TADOQuery: a statement with named string parameters whose result rows are
// read through the same field interface as an in-memory dataset.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "database/connection.hpp"
#include "database/result_rows.hpp"
#include "dataset/dataset.hpp"

namespace lumirex {

struct QueryParameter {
  std::string name;  // without the leading ':'
  int size = 16;     // the most characters a value may hold
  bool isNull = true;
  std::string value;
};

class TADOQuery {
 public:
  // The texts are run as they stand; which one depends on the connection's
  // dialect once it is open. Parameters appear in them as ":NAME".
  TADOQuery(TADOConnection& connection, std::vector<std::string> parameterNames,
            std::string transactSqlText, std::string sqliteText, std::string postgreSqlText);
  // Drops the statement it keeps on the connection.
  ~TADOQuery();
  TADOQuery(const TADOQuery&) = delete;
  TADOQuery& operator=(const TADOQuery&) = delete;

  // What the query is to the people reading its failures ("the sale header
  // query"); its messages name it instead of quoting the statement.
  std::string Description = "the query";

  // Binds a parameter by name (ASCII case ignored) as a string. Raises
  // DatabaseError for an unknown name and ConversionError "parameter <name>
  // takes at most <size> characters" for a longer value (the caller's input,
  // not the database's fault), which leaves the parameter as it was. A parameter that a text does
  // not use is not bound to it; a text should use each name once, as ODBC binds a name to one place
  // only.
  void SetParameter(std::string_view name, std::string value);
  const std::vector<QueryParameter>& Parameters() const { return parameters_; }

  // Opens the connection first when it is closed, or when its SQLite file
  // was replaced since it opened (TADOConnection::CloseIfFileReplaced); runs the statement and
  // keeps all its rows; a query already open stays as it is. The statement
  // is prepared at its first run on a connection and kept there, run again
  // with the new values, until the connection closes. A statement that
  // fails on a connection that was already open runs once more on a fresh
  // one. Raises DatabaseError with the description and the database's own
  // message, without the statement's text. A column without a
  // name is named COLUMN<n> and a repeated name gets "_1", "_2", ...
  void Open();
  void Close();
  bool Active() const { return rows_.Active(); }

  void First() { rows_.First(); }
  void Next() { rows_.Next(); }
  bool Eof() const { return rows_.Eof(); }

  // Raises DatabaseError naming the field when the result has no such column.
  TField FieldByName(std::string_view name) { return rows_.FieldByName(name); }

  const std::string& TextFor(SqlDialect dialect) const;
  TADOConnection& Connection() { return connection_; }

 private:
  result_rows::Result Run();
  void RefuseNulBytes(const result_rows::Result& result) const;

  TADOConnection& connection_;
  std::vector<QueryParameter> parameters_;
  std::string transactSqlText_;
  std::string sqliteText_;
  std::string postgreSqlText_;
  TClientDataSet rows_;
};

}  // namespace lumirex
