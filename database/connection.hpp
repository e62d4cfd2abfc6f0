// A stand-in for the database access of the platform the system was first written for.
// TADOConnection: the connection to the point-of-sale database, on SOCI.
//
// Connection strings: "sqlite3://<SOCI sqlite3 options>" or "odbc://<ODBC
// connection string>". Every opening runs BeforeConnect (which supplies the
// connection string), connects, then runs AfterConnect.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace soci {
class session;
}

namespace lumirex {

struct PreparedStatement;

// Which statement texts the session runs.
enum class SqlDialect { TransactSql, Sqlite, PostgreSql };

// Whether texts pass between the library and the database in UTF-8 (SQLite
// keeps them so; PostgreSQL's ODBC driver hands them so) rather than in the
// library's own Windows-1252.
bool TextsInUtf8(SqlDialect dialect);

// "Transact-SQL", "SQLite" or "PostgreSQL": which statements a session runs.
const char* DialectName(SqlDialect dialect);

class TADOConnection {
 public:
  using Event = std::function<void(TADOConnection& sender)>;

  TADOConnection();
  ~TADOConnection();
  TADOConnection(const TADOConnection&) = delete;
  TADOConnection& operator=(const TADOConnection&) = delete;

  bool LoginPrompt = false;
  std::string ConnectionString;
  Event BeforeConnect;
  Event AfterConnect;

  // Opens the connection when closed: BeforeConnect, connect, AfterConnect.
  // The dialect is settled on connecting, before AfterConnect runs. A failure
  // raises DatabaseError with the database's message (passwords masked) and
  // leaves the connection closed; an unknown scheme says which are accepted.
  void Open();
  void Close() noexcept;
  bool Connected() const;
  // Closes a SQLite session whose database file is no longer the one at its
  // name (renamed, removed, or replaced by a copy), so that the next opening
  // reads the file that is there now, or fails when none is.
  void CloseIfFileReplaced() noexcept;

  SqlDialect Dialect() const { return dialect_; }
  // Holds until the next opening settles the dialect again.
  void SetDialect(SqlDialect dialect) { dialect_ = dialect; }

  // The open session; raises DatabaseError when closed.
  soci::session& Session();

  // "sqlite3" or "odbc" once open.
  std::string BackendName() const;

  // The statements the queries keep prepared on the open session, by query;
  // closing the connection (and so every reconnection) drops them all.
  PreparedStatement* KeptStatement(const void* query) const;
  PreparedStatement& KeepStatement(const void* query, std::unique_ptr<PreparedStatement> statement);
  void DropStatement(const void* query) noexcept;
  // How many statements were kept over the connection's life, for the tests
  // and the benchmark to see a statement prepared once.
  std::size_t StatementsPrepared() const { return statementsPrepared_; }

  // Called by a query before its statement runs: inside a ReadTogether on a
  // native SQLite session, starts the read transaction the statements share.
  void JoinRead();

 private:
  friend class ReadTogether;
  void RunKept(const void* key, const char* text);
  void EndRead() noexcept;

  std::unique_ptr<soci::session> session_;
  std::map<const void*, std::unique_ptr<PreparedStatement>> statements_;
  std::size_t statementsPrepared_ = 0;
  SqlDialect dialect_ = SqlDialect::TransactSql;
  int readTogether_ = 0;
  bool reading_ = false;  // the session is inside the shared read transaction
};

// While it lives, the statements run on a native SQLite session share one
// read transaction: they read one state of the file, and its lock and
// journal checks are taken once for all of them, not once a statement. It
// starts with the first statement, after the connection is open, and a
// reconnection in between leaves the fresh session in autocommit. Other
// databases run each statement as before: there a transaction would cost
// round trips and save none.
class ReadTogether {
 public:
  explicit ReadTogether(TADOConnection& connection) : connection_(connection) {
    ++connection_.readTogether_;
  }
  ~ReadTogether() {
    if (--connection_.readTogether_ == 0) connection_.EndRead();
  }
  ReadTogether(const ReadTogether&) = delete;
  ReadTogether& operator=(const ReadTogether&) = delete;

 private:
  TADOConnection& connection_;
};

// Opens the connection, running its events; false instead of raising, so a
// customer query still works while the database is unreachable.
bool TryOpen(TADOConnection& connection) noexcept;

// Readies an open session for reading only (SQLite: PRAGMA query_only; ODBC:
// read-only access mode where the driver accepts it) and settles its dialect:
// SQLite, native or behind ODBC, runs the SQLite texts; PostgreSQL the
// PostgreSQL ones; any other DBMS the Transact-SQL ones.
void PrepareReadOnlySession(TADOConnection& connection);

}  // namespace lumirex
