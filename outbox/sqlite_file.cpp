#include "outbox/sqlite_file.hpp"

#include "outbox/outbox_error.hpp"
#include "support/file_owner.hpp"

namespace lumirex::outbox {

SqliteFile::SqliteFile(const std::string& path, bool create) : path_(path) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) |
                    SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  db_.reset(db);
  if (rc != SQLITE_OK) Fail("cannot open");
  if (create) TakeFolderOwner(path_);
}

void SqliteFile::Fail(const std::string& what) const {
  const char* said = db_ ? sqlite3_errmsg(db_.get()) : "out of memory";
  throw OutboxError("outbox '" + path_ + "': " + what + ": " + said);
}

void SqliteFile::Execute(const char* sql) {
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
}

Statement SqliteFile::Prepare(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_.get(), sql, -1, &statement, nullptr) != SQLITE_OK) Fail(sql);
  return Statement(*this, statement);
}

std::int64_t SqliteFile::LastInsertId() const {
  return sqlite3_last_insert_rowid(db_.get());
}

Statement& Statement::Bind(int index, std::string_view text) {
  // Bytes, not text: a report's body is kept exactly as it was built.
  if (sqlite3_bind_blob64(statement_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT) !=
      SQLITE_OK) {
    file_->Fail("cannot bind a value");
  }
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(statement_.get(), index, value) != SQLITE_OK) {
    file_->Fail("cannot bind a value");
  }
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(statement_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  file_->Fail("cannot run a statement");
}

std::string Statement::Text(int column) const {
  const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_.get(), column));
  const int size = sqlite3_column_bytes(statement_.get(), column);
  return data == nullptr ? std::string() : std::string(data, static_cast<std::size_t>(size));
}

std::int64_t Statement::Integer(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

WriteTransaction::WriteTransaction(SqliteFile& file) : file_(file) {
  file_.Execute("BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
  if (!done_) {
    try {
      file_.Execute("ROLLBACK");
    } catch (...) {
      // A failed rollback leaves SQLite to roll back when the file closes.
    }
  }
}

void WriteTransaction::Commit() {
  file_.Execute("COMMIT");
  done_ = true;
}

}  // namespace lumirex::outbox
