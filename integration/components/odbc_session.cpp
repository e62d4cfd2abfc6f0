#include "integration/components/odbc_session.hpp"

#include <soci/odbc/soci-odbc.h>
#include <soci/soci.h>

#include <array>

#include "support/errors.hpp"

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

}  // namespace lumirex::odbc
