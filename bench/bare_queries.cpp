#include "bare_queries.hpp"

#include <sqlite3.h>

#include <stdexcept>
#include <string>

#include "integration/sale_queries.hpp"
#include "pos_database.hpp"

namespace lumirex::bench {

namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw std::runtime_error(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

sqlite3_stmt* Prepare(sqlite3* db, const std::string& text) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, text.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    Fail(db, "cannot prepare a sale query");
  }
  return statement;
}

void Bind(sqlite3_stmt* statement, const char* name, const char* value) {
  sqlite3_bind_text(statement, sqlite3_bind_parameter_index(statement, name), value, -1,
                    SQLITE_STATIC);
}

}  // namespace

BareQueries::BareQueries(const std::filesystem::path& file) {
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    Fail(db_, "cannot open " + file.string());
  }
  header_ = Prepare(db_, sale_queries::kHeaderSqlite);
  items_ = Prepare(db_, sale_queries::kItemsSqlite);
}

BareQueries::~BareQueries() {
  sqlite3_finalize(header_);
  sqlite3_finalize(items_);
  sqlite3_close(db_);
}

std::size_t BareQueries::Run() {
  return RunOne(header_) + RunOne(items_);
}

std::size_t BareQueries::RunOne(sqlite3_stmt* statement) {
  Bind(statement, ":P_CDFILIAL", kSaleBranch);
  Bind(statement, ":P_CDCAIXA", kSaleTill);
  Bind(statement, ":P_NRSEQVENDA", kSaleSequence);
  std::size_t bytes = 0;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      sqlite3_column_text(statement, column);
      bytes += static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
    }
  }
  sqlite3_reset(statement);
  if (step != SQLITE_DONE) Fail(db_, "a sale query failed");
  return bytes;
}

}  // namespace lumirex::bench
