// A SQLite database file and its prepared statements, closed on every path.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace lumirex::outbox {

class Statement;

// Held by every use of an outbox file, from its opening to its closing, and
// by fork(): the prepare step closes every outbox file open in the process,
// and each opens again at its next use. SQLite shares one record of a file's
// locks and one mapping of its "-shm" among all connections of a process, and
// a child inherits that record with locks it does not hold; a connection
// opened there on the same file would rely on them, and once the parent let
// go of the file, another opening would truncate the mapping under the child
// (SIGBUS). With no outbox file open at the fork, the child's are its own.
std::mutex& OutboxFileLock();

class SqliteFile {
 public:
  enum class Mode { Create, Write, Read };

  // Opens the file, never through a link and only when it is a regular file;
  // Create makes a missing one, private to its owner (0600). Raises
  // OutboxError naming the file and saying in plain words what is wrong.
  SqliteFile(const std::string& path, Mode mode);
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  void Execute(const char* sql);
  // Executes a setting of the connection now, and again whenever the file
  // is opened anew after a fork.
  void ExecuteAndKeep(const char* sql);
  Statement Prepare(const char* sql);
  std::int64_t LastInsertId() const;
  // Rows the latest statement changed.
  std::int64_t Changes() const;
  // Waits at most this long for another process's transaction.
  void SetBusyTimeout(int milliseconds);
  // Copies the WAL into the file and, when it holds more than `frames`
  // pages, truncates it. Waits for nobody: a till keeping a report meanwhile
  // is never held up, and what cannot be done now is left for another time.
  void EmptyWalBeyond(int frames);
  const std::string& Path() const { return path_; }
  // Whether this opening made the file.
  bool Made() const { return made_; }
  [[noreturn]] void Fail() const;
  // Closes it, holding OutboxFileLock(); before destruction.
  void Close();

 private:
  friend void SuspendOpenFiles();
  struct CloseDb {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  void Open(bool create);
  // The connection, opened again if a fork closed it.
  sqlite3* Db();

  std::string path_;
  int flags_ = 0;
  bool made_ = false;
  int busyTimeout_ = 0;
  bool suspended_ = false;
  std::string kept_;  // the settings to execute again on reopening
  std::unique_ptr<sqlite3, CloseDb> db_;
  // The open files, for the fork's prepare step.
  SqliteFile* previous_ = nullptr;
  SqliteFile* next_ = nullptr;
};

// One statement: bind by position from 1, step, read columns from 0.
class Statement {
 public:
  Statement(const SqliteFile& file, sqlite3_stmt* statement)
      : file_(&file), statement_(statement) {}

  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, std::int64_t value);
  // True while a row is there to read; raises on an error.
  bool Step();
  std::string Text(int column) const;
  std::int64_t Integer(int column) const;

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  const SqliteFile* file_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

// A write transaction taken at its start (BEGIN IMMEDIATE), so two processes
// sharing the file never work on the same reports at once; rolled back unless
// committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(SqliteFile& file);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  void Commit();

 private:
  SqliteFile& file_;
  bool done_ = false;
};

}  // namespace lumirex::outbox
