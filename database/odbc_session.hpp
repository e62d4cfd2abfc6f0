// What the connection and the query need of ODBC beyond what SOCI offers.
#pragma once

// Windows' ODBC headers take their types from windows.h.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>

#include <string>

namespace soci {
class session;
class statement;
}  // namespace soci

namespace lumirex::odbc {

// The driver's diagnostic records of a handle, "[driver]message (SQL state
// XXXXX)", joined by "; "; a generic text when there are none.
std::string Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// The connection handle of an ODBC session; raises DatabaseError for another backend.
SQLHDBC ConnectionHandle(soci::session& session);

// The DBMS the session reaches (SQL_DBMS_NAME).
std::string DbmsName(soci::session& session);

// How long connecting, and each statement, may wait for the database.
inline constexpr int kWaitSeconds = 10;

// The connection string with a login time-out added, so that connecting to a
// SQL Server that accepts the connection and never answers gives up after
// kWaitSeconds. SOCI connects as it creates the session, before any
// attribute can be set on the handle, so the time-out goes as the driver's
// own keyword: FreeTDS's Timeout, for a string that names the FreeTDS driver
// and sets none. A data source (DSN=) or another driver takes its login
// time-out from its own definition.
std::string WithLoginTimeout(const std::string& connection);

// Bounds every later wait of an open session for the database
// (SQL_ATTR_CONNECTION_TIMEOUT); a driver that refuses is let be.
void BoundWaits(soci::session& session) noexcept;

// Bounds the run of an allocated statement of an ODBC session to
// kWaitSeconds (SQL_ATTR_QUERY_TIMEOUT).
void BoundQueryTime(soci::statement& statement) noexcept;

// The message with a plain word added when it is the driver's time-out (SQL
// state HYT00 or HYT01): the database did not answer in time.
std::string ExplainTimeout(std::string message);

// Asks the driver for read-only access; a driver that refuses is let be,
// since the statements we run only read anyway.
void RequestReadOnly(soci::session& session) noexcept;

}  // namespace lumirex::odbc
