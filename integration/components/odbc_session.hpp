// What the connection and the query need of ODBC beyond what SOCI offers.
#pragma once

#include <sql.h>

#include <string>

namespace soci {
class session;
}

namespace lumirex::odbc {

// The driver's diagnostic records of a handle, "[driver]message (SQL state
// XXXXX)", joined by "; "; a generic text when there are none.
std::string Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// The connection handle of an ODBC session; raises DatabaseError for another backend.
SQLHDBC ConnectionHandle(soci::session& session);

// The DBMS the session reaches (SQL_DBMS_NAME).
std::string DbmsName(soci::session& session);

// Asks the driver for read-only access; a driver that refuses is let be,
// since the statements we run only read anyway.
void RequestReadOnly(soci::session& session) noexcept;

}  // namespace lumirex::odbc
