#include "database/query.hpp"

#include <soci/soci.h>

#include <memory>
#include <new>
#include <utility>
#include <variant>

#include "database/fork_fence.hpp"
#include "database/odbc_session.hpp"
#include "database/prepared_statement.hpp"
#include "database/result_rows.hpp"
#include "support/errors.hpp"
#include "support/host_text.hpp"
#include "support/text.hpp"

namespace lumirex {
namespace {

bool IsNameChar(char ch) {
  return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
         ch == '_';
}

// Whether the text holds ":NAME" (":NAMEX" does not count). A declared
// parameter that a dialect's text does not use is left unbound, as the
// database would refuse it.
bool MentionsParameter(std::string_view text, std::string_view name) {
  for (std::size_t colon = text.find(':'); colon != std::string_view::npos;
       colon = text.find(':', colon + 1)) {
    const std::size_t end = colon + 1 + name.size();
    if (text.substr(colon + 1, name.size()) == name &&
        (end == text.size() || !IsNameChar(text[end]))) {
      return true;
    }
  }
  return false;
}

bool NameTaken(const std::vector<FieldDef>& defs, std::size_t before, std::string_view name) {
  for (std::size_t i = 0; i < before; ++i) {
    if (EqualsIgnoringCase(defs[i].name, name)) return true;
  }
  return false;
}

// A dataset needs distinct, non-empty field names; a result may have neither
// (an expression without an alias, two tables' CDFILIAL). Such columns are
// named as the host's query components name them: COLUMN<n>, NAME_1, NAME_2.
void NameFieldsUniquely(std::vector<FieldDef>& defs) {
  for (std::size_t i = 0; i < defs.size(); ++i) {
    if (defs[i].name.empty()) defs[i].name = "COLUMN" + std::to_string(i + 1);
    const std::string base = defs[i].name;
    for (int n = 1; NameTaken(defs, i, defs[i].name); ++n) {
      defs[i].name = base + "_" + std::to_string(n);
    }
  }
}

// SQLite and PostgreSQL give their texts in UTF-8; inside the library texts are in the host's
// encoding.
void ToHostTexts(result_rows::Result& result) {
  for (FieldDef& def : result.defs) def.name = HostTextFromUtf8(def.name);
  for (TClientDataSet::Row& row : result.rows) {
    for (FieldValue& value : row) {
      if (auto* text = std::get_if<std::string>(&value)) *text = HostTextFromUtf8(*text);
    }
  }
}

// The statement kept for the query on its connection, prepared and bound
// there the first time: preparing is the dearest part of a small query.
PreparedStatement& KeptStatement(TADOConnection& connection, const void* query,
                                 const std::vector<QueryParameter>& parameters,
                                 const std::string& text) {
  if (PreparedStatement* kept = connection.KeptStatement(query); kept && kept->text == text) {
    return *kept;
  }
  auto prepared = std::make_unique<PreparedStatement>(connection.Session(), text);
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    if (MentionsParameter(text, parameters[i].name)) prepared->parameters.push_back(i);
  }
  prepared->values.resize(prepared->parameters.size());
  prepared->indicators.resize(prepared->parameters.size(), soci::i_null);
  soci::statement& statement = prepared->statement;
  for (std::size_t k = 0; k < prepared->parameters.size(); ++k) {
    statement.exchange(soci::use(prepared->values[k], prepared->indicators[k],
                                 parameters[prepared->parameters[k]].name));
  }
  statement.alloc();
  if (connection.BackendName() == "odbc") {
    odbc::BoundQueryTime(statement);
  }
  statement.prepare(text);
  statement.define_and_bind();
  return connection.KeepStatement(query, std::move(prepared));
}

// Runs the kept statement with the parameters' current values, assigned in
// place to the strings the statement is bound to.
result_rows::Result Execute(TADOConnection& connection, PreparedStatement& prepared,
                            const std::vector<QueryParameter>& parameters) {
  const bool sqlite = connection.Dialect() == SqlDialect::Sqlite;
  const bool utf8 = TextsInUtf8(connection.Dialect());
  for (std::size_t k = 0; k < prepared.parameters.size(); ++k) {
    const QueryParameter& parameter = parameters[prepared.parameters[k]];
    prepared.values[k] = utf8 ? Utf8FromHostText(parameter.value) : parameter.value;
    prepared.indicators[k] = parameter.isNull ? soci::i_null : soci::i_ok;
  }
  prepared.statement.execute(false);
  result_rows::Result result = connection.BackendName() == "sqlite3"
                                   ? result_rows::ReadSqliteRows(prepared.statement)
                                   : result_rows::ReadOdbcRows(prepared.statement, sqlite);
  if (utf8) ToHostTexts(result);
  NameFieldsUniquely(result.defs);
  return result;
}

// The database's own words: SOCI adds the whole statement to what() ("while
// preparing ..."), which fills a log line and tells support nothing more.
std::string DatabaseMessage(const std::exception& error) {
  if (const auto* soci = dynamic_cast<const soci::soci_error*>(&error)) {
    return soci->get_error_message();
  }
  return error.what();
}

}  // namespace

TADOQuery::TADOQuery(TADOConnection& connection, std::vector<std::string> parameterNames,
                     std::string transactSqlText, std::string sqliteText,
                     std::string postgreSqlText)
    : connection_(connection),
      transactSqlText_(std::move(transactSqlText)),
      sqliteText_(std::move(sqliteText)),
      postgreSqlText_(std::move(postgreSqlText)) {
  for (std::string& name : parameterNames) {
    QueryParameter& parameter = parameters_.emplace_back();
    parameter.name = std::move(name);
  }
}

TADOQuery::~TADOQuery() {
  connection_.DropStatement(this);
}

void TADOQuery::SetParameter(std::string_view name, std::string value) {
  for (QueryParameter& parameter : parameters_) {
    if (!EqualsIgnoringCase(parameter.name, name)) continue;
    // Refused rather than cut: a cut key could select another sale. The
    // value is the caller's, not the database's fault: a ConversionError.
    if (HostTextLength(value) > static_cast<std::size_t>(parameter.size)) {
      throw ConversionError("parameter " + parameter.name + " takes at most " +
                            std::to_string(parameter.size) + " characters");
    }
    parameter.value = std::move(value);
    parameter.isNull = false;
    return;
  }
  throw DatabaseError("parameter " + std::string(name) + " not found");
}

void TADOQuery::Open() {
  if (Active()) return;
  connection_.CloseIfFileReplaced();
  const bool kept = connection_.Connected();
  if (!kept) connection_.Open();
  result_rows::Result result;
  try {
    result = Run();
  } catch (const DatabaseError&) {
    if (!kept) throw;
    // A connection kept from earlier may have lost its database (a server
    // restarted, a file restored from a backup under it) and would fail every
    // call from now on. The statement only reads, so it is run once more on a
    // fresh connection; a fault that lasts fails that attempt as well.
    connection_.Close();
    connection_.Open();
    result = Run();
  }
  RefuseNulBytes(result);
  rows_.Load(std::move(result.defs), std::move(result.rows));
}

// XML cannot carry a NUL byte, and a text cut at one would reach the service
// as another text: a row holding one is refused, naming its column.
void TADOQuery::RefuseNulBytes(const result_rows::Result& result) const {
  for (const auto& row : result.rows) {
    for (std::size_t i = 0; i < row.size() && i < result.defs.size(); ++i) {
      const auto* text = std::get_if<std::string>(&row[i]);
      if (text == nullptr || text->find('\0') == std::string::npos) continue;
      throw DatabaseError(Description + ": the column " + result.defs[i].name +
                          " holds a NUL byte, which the request cannot carry");
    }
  }
}

result_rows::Result TADOQuery::Run() {
  const bool utf8 = TextsInUtf8(connection_.Dialect());
  try {
    const std::string& text = TextFor(connection_.Dialect());
    const DatabaseWork work;
    connection_.JoinRead();
    return Execute(connection_, KeptStatement(connection_, this, parameters_, text), parameters_);
  } catch (const std::bad_alloc&) {
    connection_.DropStatement(this);
    throw;
  } catch (const std::exception& error) {
    // A statement that failed is prepared afresh next time, whatever state
    // the failure left it in.
    connection_.DropStatement(this);
    const std::string said = DatabaseMessage(error);
    throw DatabaseError(Description + ": " +
                        odbc::ExplainTimeout(MaskPasswords(utf8 ? HostTextFromUtf8(said) : said)));
  }
}

void TADOQuery::Close() {
  rows_.Close();
}

const std::string& TADOQuery::TextFor(SqlDialect dialect) const {
  switch (dialect) {
    case SqlDialect::Sqlite:
      return sqliteText_;
    case SqlDialect::PostgreSql:
      return postgreSqlText_;
    default:
      return transactSqlText_;
  }
}

}  // namespace lumirex
