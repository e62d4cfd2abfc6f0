#include "database/odbc_session.hpp"

#include <soci/odbc/soci-odbc.h>
#include <soci/soci.h>

#include <array>

#include "support/errors.hpp"
#include "support/text.hpp"

namespace lumirex::odbc {

std::string Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::string text;
  for (SQLSMALLINT record = 1;; ++record) {
    std::array<SQLCHAR, 6> state{};
    std::array<SQLCHAR, SQL_MAX_MESSAGE_LENGTH> message{};
    SQLINTEGER nativeError = 0;
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state.data(), &nativeError,
                                       message.data(), message.size(), &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (!text.empty()) text += "; ";
    text += reinterpret_cast<const char*>(message.data());
    text += " (SQL state ";
    text += reinterpret_cast<const char*>(state.data());
    text += ")";
  }
  return text.empty() ? "the ODBC driver reported an error without a message" : text;
}

// SOCI's backends come without type information, so the backend's name
// stands in for a checked cast.
SQLHDBC ConnectionHandle(soci::session& session) {
  if (session.get_backend_name() != "odbc") {
    throw DatabaseError("the session is not an ODBC session");
  }
  return static_cast<soci::odbc_session_backend*>(session.get_backend())->hdbc_;
}

std::string DbmsName(soci::session& session) {
  SQLHDBC connection = ConnectionHandle(session);
  std::array<SQLCHAR, 256> name{};
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLGetInfo(connection, SQL_DBMS_NAME, name.data(), name.size(), &length);
  if (!SQL_SUCCEEDED(rc)) throw DatabaseError(Diagnostics(SQL_HANDLE_DBC, connection));
  return reinterpret_cast<const char*>(name.data());
}

void RequestReadOnly(soci::session& session) noexcept {
  if (session.get_backend_name() != "odbc") return;
  SQLSetConnectAttr(ConnectionHandle(session), SQL_ATTR_ACCESS_MODE,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_MODE_READ_ONLY)), 0);
}

namespace {

// The value of the key in the ODBC connection string, in any case; empty
// when the string does not set it.
std::string_view ValueOf(std::string_view connection, std::string_view key) {
  std::size_t start = 0;
  while (start < connection.size()) {
    std::size_t end = connection.find(';', start);
    if (end == std::string_view::npos) end = connection.size();
    const std::string_view pair = connection.substr(start, end - start);
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos &&
        EqualsIgnoringCase(TrimBlanks(pair.substr(0, equals)), key)) {
      return TrimBlanks(pair.substr(equals + 1));
    }
    start = end + 1;
  }
  return {};
}

}  // namespace

std::string WithLoginTimeout(const std::string& connection) {
  const std::string_view driver = ValueOf(connection, "Driver");
  const bool freeTds =
      ContainsIgnoringCase(driver, "tdsodbc") || ContainsIgnoringCase(driver, "FreeTDS");
  if (!freeTds || !ValueOf(connection, "Timeout").empty()) return connection;
  std::string bounded = connection;
  if (!bounded.empty() && bounded.back() != ';') bounded += ';';
  return bounded + "Timeout=" + std::to_string(kWaitSeconds);
}

void BoundWaits(soci::session& session) noexcept {
  if (session.get_backend_name() != "odbc") return;
  SQLSetConnectAttr(ConnectionHandle(session), SQL_ATTR_CONNECTION_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kWaitSeconds)), 0);
}

void BoundQueryTime(soci::statement& statement) noexcept {
  SQLHSTMT handle = static_cast<soci::odbc_statement_backend*>(statement.get_backend())->hstmt_;
  SQLSetStmtAttr(handle, SQL_ATTR_QUERY_TIMEOUT,
                 reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kWaitSeconds)), 0);
}

std::string ExplainTimeout(std::string message) {
  if (message.find("HYT00") == std::string::npos && message.find("HYT01") == std::string::npos) {
    return message;
  }
  return message + "; the database did not answer within " + std::to_string(kWaitSeconds) +
         " seconds";
}

}  // namespace lumirex::odbc
