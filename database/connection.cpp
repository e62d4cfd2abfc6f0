#include "database/connection.hpp"

#include "database/fork_fence.hpp"

#include <soci/odbc/soci-odbc.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <array>
#include <new>
#include <string_view>

#include "database/fork_fence.hpp"
#include "database/odbc_session.hpp"
#include "database/prepared_statement.hpp"
#include "database/sqlite_path.hpp"
#include "support/errors.hpp"
#include "support/host_text.hpp"
#include "support/option_string.hpp"
#include "support/sqlite_fork.hpp"
#include "support/text.hpp"

namespace lumirex {
namespace {

constexpr std::string_view kSqliteScheme = "sqlite3://";
constexpr std::string_view kOdbcScheme = "odbc://";
constexpr int kLockWaitMs = 2000;
constexpr int kMaxLockWaitMs = 5000;

// The options SOCI's sqlite3 backend knows; it passes over any other in
// silence, so a misspelt one is refused here instead.
constexpr std::array<std::string_view, 9> kSqliteOptions = {
    "db",       "dbname",       "timeout", "synchronous", "readonly",
    "nocreate", "shared_cache", "vfs",     "foreign_keys"};

bool IsSqliteOption(std::string_view key) {
  for (std::string_view known : kSqliteOptions) {
    if (key == known) return true;
  }
  return false;
}

// The library never writes the point-of-sale database: whatever the string
// says, the file is opened read-only, and a missing one is never created.
std::unique_ptr<soci::session> ConnectSqlite(std::string_view optionText) {
  KeepSqliteWholeAcrossFork();
  std::string database;
  std::string options;
  for (const auto& [key, value] : ParseOptions(optionText)) {
    if (key.empty() || key == "db" || key == "dbname") {
      database = value;
    } else if (!IsSqliteOption(key)) {
      throw DatabaseError("the SQLite connection option '" + key +
                          "' is not known; the options are db, dbname, timeout, synchronous, "
                          "readonly, nocreate, shared_cache, vfs and foreign_keys");
    } else if (key != "readonly" && key != "nocreate") {
      options += " " + key + "=" + sqlite_path::ForSoci(key, value);
    }
  }
  const sqlite_path::DatabaseName name(database);
  return std::make_unique<soci::session>(*soci::factory_sqlite3(),
                                         "db=" + name.ForSoci() + options + " readonly=1");
}

// The backends are linked in and named by their factories, so a host needs
// no SOCI plugin on its library path.
std::unique_ptr<soci::session> Connect(const std::string& connectionString) {
  if (StartsWithIgnoringCase(connectionString, kSqliteScheme)) {
    return ConnectSqlite(std::string_view(connectionString).substr(kSqliteScheme.size()));
  }
  if (StartsWithIgnoringCase(connectionString, kOdbcScheme)) {
    // The driver manager takes the ANSI text the host gave: back from the
    // UTF-8 that connection strings are kept in.
    const std::string odbcText = HostTextFromUtf8(connectionString.substr(kOdbcScheme.size()));
    auto session =
        std::make_unique<soci::session>(*soci::factory_odbc(), odbc::WithLoginTimeout(odbcText));
    odbc::BoundWaits(*session);
    return session;
  }
  throw DatabaseError("connection string '" + MaskPasswords(connectionString) +
                      "' is not accepted: use sqlite3://<SQLite options> (for example "
                      "sqlite3://db=/var/pos/pos.sqlite readonly=1) or odbc://<ODBC "
                      "connection string> (for example odbc://DSN=pos;UID=till)");
}

SqlDialect DialectOf(soci::session& session) {
  if (session.get_backend_name() == "sqlite3") return SqlDialect::Sqlite;
  const std::string dbms = odbc::DbmsName(session);
  if (ContainsIgnoringCase(dbms, "SQLite")) return SqlDialect::Sqlite;
  if (ContainsIgnoringCase(dbms, "PostgreSQL")) return SqlDialect::PostgreSql;
  return SqlDialect::TransactSql;
}

// A writer's lock is waited for, so that a sale written a moment ago by the
// back end does not fail the report; but never for long: SQLite alone would
// not wait at all, and its ODBC driver waits 100 seconds, far beyond the
// call's own time-out. A shorter wait the host set stays as it is.
void BoundLockWait(soci::session& session) {
  int waitMs = 0;
  session << "PRAGMA busy_timeout", soci::into(waitMs);
  if (waitMs == 0 || waitMs > kMaxLockWaitMs) {
    session << "PRAGMA busy_timeout = " + std::to_string(kLockWaitMs);
  }
}

// The server refuses any write for the session's transactions, and sends
// its texts in UTF-8 whichever of its two ODBC drivers (Unicode or ANSI)
// reaches it, as the queries expect.
void PreparePostgreSql(soci::session& session) {
  session << "SET default_transaction_read_only = on";
  session << "SET client_encoding = 'UTF8'";
}

}  // namespace

bool TextsInUtf8(SqlDialect dialect) {
  return dialect == SqlDialect::Sqlite || dialect == SqlDialect::PostgreSql;
}

const char* DialectName(SqlDialect dialect) {
  switch (dialect) {
    case SqlDialect::Sqlite:
      return "SQLite";
    case SqlDialect::PostgreSql:
      return "PostgreSQL";
    default:
      return "Transact-SQL";
  }
}

TADOConnection::TADOConnection() = default;

TADOConnection::~TADOConnection() {
  Close();
}

void TADOConnection::Open() {
  if (Connected()) return;
  // What the messages show: "cannot open the point-of-sale database
  // '<string>'", or without the string while BeforeConnect has not supplied it.
  std::string context = "cannot open the point-of-sale database";
  try {
    if (BeforeConnect) BeforeConnect(*this);
    context += " '" + MaskPasswords(ConnectionString) + "'";
    {
      const DatabaseWork work;
      session_ = Connect(ConnectionString);
      // The session knows its dialect before AfterConnect, so a query runs
      // the right texts even when no handler readies the session.
      dialect_ = DialectOf(*session_);
    }
    if (AfterConnect) AfterConnect(*this);
  } catch (const DatabaseError&) {
    // Ours, already written without passwords.
    Close();
    throw;
  } catch (const std::bad_alloc&) {
    Close();
    throw;
  } catch (const std::exception& error) {
    Close();
    throw DatabaseError(context + ": " + odbc::ExplainTimeout(MaskPasswords(error.what())));
  } catch (...) {
    Close();
    throw DatabaseError(context + ": unknown failure");
  }
}

void TADOConnection::Close() noexcept {
  if (!session_ && statements_.empty()) return;
  const DatabaseWork work;
  // The statements go before the session they were prepared on.
  statements_.clear();
  session_.reset();
  reading_ = false;
}

// Keys of the transaction's statements among the queries' kept ones.
constexpr char kBeginKey = 0;
constexpr char kCommitKey = 0;

void TADOConnection::RunKept(const void* key, const char* text) {
  const DatabaseWork work;
  PreparedStatement* kept = KeptStatement(key);
  if (kept == nullptr) {
    auto prepared = std::make_unique<PreparedStatement>(Session(), text);
    prepared->statement.alloc();
    prepared->statement.prepare(text);
    prepared->statement.define_and_bind();
    kept = &KeepStatement(key, std::move(prepared));
  }
  kept->statement.execute(true);
}

void TADOConnection::JoinRead() {
  if (readTogether_ == 0 || reading_ || BackendName() != "sqlite3") return;
  RunKept(&kBeginKey, "BEGIN");
  reading_ = true;
}

void TADOConnection::EndRead() noexcept {
  if (!reading_) return;
  reading_ = false;
  try {
    RunKept(&kCommitKey, "COMMIT");
  } catch (...) {
    // A transaction left open would keep the file's shared lock, and writers
    // out, between calls: the session goes, and the next query opens afresh.
    Close();
  }
}

void TADOConnection::CloseIfFileReplaced() noexcept {
  // Inside the shared read transaction the file was looked at as it began,
  // and its lock keeps the state the first statement read for the others.
  if (reading_ || !session_ || session_->get_backend_name() != "sqlite3") return;
  sqlite_api::sqlite3* database =
      static_cast<soci::sqlite3_session_backend*>(session_->get_backend())->conn_;
  // SQLite compares the file it holds open with the one its name leads to now.
  int moved = 0;
  if (sqlite_api::sqlite3_file_control(database, "main", SQLITE_FCNTL_HAS_MOVED, &moved) !=
          SQLITE_OK ||
      moved == 0) {
    return;
  }
  Close();
}

bool TADOConnection::Connected() const {
  return session_ != nullptr;
}

soci::session& TADOConnection::Session() {
  if (!session_) throw DatabaseError("the database connection is not open");
  return *session_;
}

PreparedStatement* TADOConnection::KeptStatement(const void* query) const {
  const auto kept = statements_.find(query);
  return kept == statements_.end() ? nullptr : kept->second.get();
}

PreparedStatement& TADOConnection::KeepStatement(const void* query,
                                                 std::unique_ptr<PreparedStatement> statement) {
  ++statementsPrepared_;
  std::unique_ptr<PreparedStatement>& kept = statements_[query];
  kept = std::move(statement);
  return *kept;
}

void TADOConnection::DropStatement(const void* query) noexcept {
  const auto kept = statements_.find(query);
  if (kept == statements_.end()) return;
  const DatabaseWork work;
  statements_.erase(kept);
}

std::string TADOConnection::BackendName() const {
  return session_ ? session_->get_backend_name() : std::string();
}

bool TryOpen(TADOConnection& connection) noexcept {
  try {
    connection.Open();
    return true;
  } catch (...) {
    return false;
  }
}

void PrepareReadOnlySession(TADOConnection& connection) {
  soci::session& session = connection.Session();
  const DatabaseWork work;
  try {
    if (connection.BackendName() == "odbc") odbc::RequestReadOnly(session);
    const SqlDialect dialect = DialectOf(session);
    // SQLite takes no access mode through its ODBC driver, so it is made
    // read-only the same way whichever way it is reached.
    if (dialect == SqlDialect::Sqlite) {
      session << "PRAGMA query_only = ON";
      BoundLockWait(session);
    } else if (dialect == SqlDialect::PostgreSql) {
      PreparePostgreSql(session);
    }
    connection.SetDialect(dialect);
  } catch (const DatabaseError&) {
    throw;
  } catch (const std::exception& error) {
    throw DatabaseError(MaskPasswords(error.what()));
  }
}

}  // namespace lumirex
