// A SQLite database file that a test fills, and the ODBC drivers registered
// for the test alone.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "testkit/postgres_server.hpp"
#include "testkit/testkit.hpp"

namespace lumirex::testing {

// Creates (or opens) the file and runs the statements on it.
inline void RunSqlite(const std::filesystem::path& file, const std::string& statements) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

// The Debian ODBC drivers the tests use, SQLite's as "SQLite3" and
// PostgreSQL's as "PostgreSQL Unicode", in an odbcinst.ini of a temporary
// folder that ODBCSYSINI points at, so nothing outside the test is read or
// touched. One folder serves the whole test program: the driver manager
// caches what it read of odbcinst.ini for a while.
class OdbcDrivers {
 public:
  static void Register() { static const OdbcDrivers drivers; }

 private:
  OdbcDrivers() : env_("ODBCSYSINI", folder_.str()) {
    testkit::WriteFile(folder_.path() / "odbcinst.ini",
                       "[SQLite3]\n"
                       "Driver=" +
                           testkit::FindOdbcDriver("libsqlite3odbc.so").string() +
                           "\n"
                           "[PostgreSQL Unicode]\n"
                           "Driver=" +
                           testkit::FindOdbcDriver("psqlodbcw.so").string() + "\n");
  }

  testkit::TempDir folder_;
  testkit::ScopedEnv env_;
};

struct SqliteOdbcDriver {
  static std::string ConnectionString(const std::filesystem::path& file) {
    OdbcDrivers::Register();
    return "odbc://DRIVER={SQLite3};Database=" + file.string();
  }
};

}  // namespace lumirex::testing
