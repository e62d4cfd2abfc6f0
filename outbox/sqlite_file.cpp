#include "outbox/sqlite_file.hpp"

#include <utility>

#include "outbox/outbox_file.hpp"
#include "support/at_fork.hpp"
#include "support/no_destructor.hpp"
#include "support/sqlite_fork.hpp"

namespace lumirex::outbox {

void SuspendOpenFiles();

namespace {

// The files open now, under OutboxFileLock().
SqliteFile* openFiles = nullptr;

// What SQLite's code means to the person at the till, never the statement.
std::string PlainWords(int code) {
  switch (code & 0xff) {
    case SQLITE_FULL:
      return "the disk is full";
    case SQLITE_READONLY:
      return "it is read-only";
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return "permission denied";
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return "it is damaged or not a SQLite file";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "another process keeps it busy";
    case SQLITE_CANTOPEN:
      return "it cannot be opened";
    case SQLITE_NOMEM:
      return "out of memory";
    case SQLITE_IOERR:
      return "the disk could not be read or written";
    default:
      return sqlite3_errstr(code);
  }
}

}  // namespace

std::mutex& OutboxFileLock() {
  static NoDestructor<std::mutex> lock;
  static const int handler =
      AtFork(ForkOrder::Outbox, {[] {
                                   lock->lock();
                                   SuspendOpenFiles();
                                 },
                                 [] { lock->unlock(); }, [] { lock->unlock(); }});
  (void)handler;
  return *lock;
}

namespace {
const BuiltAtLoad<&OutboxFileLock> lockBuiltAtLoad;
}  // namespace

// In the fork's prepare step, holding OutboxFileLock(): no statement of these
// files is running, so closing each closes its file for good.
void SuspendOpenFiles() {
  for (SqliteFile* file = openFiles; file != nullptr; file = file->next_) {
    file->db_.reset();
    file->suspended_ = true;
    file->previous_ = nullptr;
  }
  for (SqliteFile* file = openFiles; file != nullptr;) file = std::exchange(file->next_, nullptr);
  openFiles = nullptr;
}

SqliteFile::SqliteFile(const std::string& path, Mode mode) : path_(path) {
  KeepSqliteWholeAcrossFork();
  flags_ = (mode == Mode::Read ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
           SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
  Open(mode == Mode::Create);
}

void SqliteFile::Open(bool create) {
  const bool made = MakeOrCheckFile(path_, create);
  if (!suspended_) made_ = made;
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(SqliteFileName(path_).c_str(), &db, flags_, nullptr);
  db_.reset(db);
  if (rc != SQLITE_OK) RefuseFile(path_, PlainWords(rc));
  // A call opens and closes the file; closing is no moment for a checkpoint,
  // which would cost every report two more waits for the disk: the commits'
  // own automatic ones start the WAL over, as no statement stays open across
  // a commit, and a sending round empties it when it grew all the same.
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  suspended_ = false;
  next_ = openFiles;
  if (next_ != nullptr) next_->previous_ = this;
  openFiles = this;
}

sqlite3* SqliteFile::Db() {
  if (suspended_) {
    Open(false);
    sqlite3_busy_timeout(db_.get(), busyTimeout_);
    if (!kept_.empty()) Execute(kept_.c_str());
  }
  return db_.get();
}

void SqliteFile::Close() {
  if (!db_) return;
  db_.reset();
  if (previous_ != nullptr) previous_->next_ = next_;
  if (openFiles == this) openFiles = next_;
  if (next_ != nullptr) next_->previous_ = previous_;
  previous_ = next_ = nullptr;
}

void SqliteFile::Fail() const {
  RefuseFile(path_, db_ ? PlainWords(sqlite3_extended_errcode(db_.get())) : "out of memory");
}

void SqliteFile::Execute(const char* sql) {
  if (sqlite3_exec(Db(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
}

void SqliteFile::ExecuteAndKeep(const char* sql) {
  Execute(sql);
  kept_ += sql;
  kept_ += ';';
}

Statement SqliteFile::Prepare(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(Db(), sql, -1, &statement, nullptr) != SQLITE_OK) Fail();
  return Statement(*this, statement);
}

std::int64_t SqliteFile::LastInsertId() const {
  return sqlite3_last_insert_rowid(db_.get());
}

std::int64_t SqliteFile::Changes() const {
  return sqlite3_changes(db_.get());
}

void SqliteFile::SetBusyTimeout(int milliseconds) {
  busyTimeout_ = milliseconds;
  sqlite3_busy_timeout(Db(), milliseconds);
}

void SqliteFile::EmptyWalBeyond(int frames) {
  int kept = 0;
  int copied = 0;
  // A passive checkpoint never waits; it fails outside WAL mode.
  sqlite3* db = Db();
  if (sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &kept, &copied) !=
          SQLITE_OK ||
      kept <= frames) {
    return;
  }
  sqlite3_busy_timeout(db, 0);
  sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  sqlite3_busy_timeout(db, busyTimeout_);
}

Statement& Statement::Bind(int index, std::string_view text) {
  // Bytes, not text: a report's body is kept exactly as it was built.
  if (sqlite3_bind_blob64(statement_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT) !=
      SQLITE_OK) {
    file_->Fail();
  }
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(statement_.get(), index, value) != SQLITE_OK) file_->Fail();
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(statement_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  file_->Fail();
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
