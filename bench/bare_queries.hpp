// The two sale queries run straight through SQLite, prepared once, every
// column of every row read as text: what the database itself costs a VENDA,
// without the library around it.
#pragma once

#include <filesystem>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace lumirex::bench {

class BareQueries {
 public:
  // Opens the file read-only and prepares both statements; raises
  // std::runtime_error with SQLite's message.
  explicit BareQueries(const std::filesystem::path& file);
  ~BareQueries();
  BareQueries(const BareQueries&) = delete;
  BareQueries& operator=(const BareQueries&) = delete;

  // Runs both for the twenty-item sale; returns the bytes of text read.
  std::size_t Run();

 private:
  std::size_t RunOne(sqlite3_stmt* statement);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* header_ = nullptr;
  sqlite3_stmt* items_ = nullptr;
};

}  // namespace lumirex::bench
