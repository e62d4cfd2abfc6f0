#include "cli/pos_database.hpp"

#include <sqlite3.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "support/path_text.hpp"
#include "support/system_clock_and_path.hpp"

namespace lumirex::cli {

namespace {

std::string ReadSql(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + PathText(file));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

Database Create(const std::filesystem::path& file) {
  sqlite3* raw = nullptr;
  int status = sqlite3_open_v2(PathText(file).c_str(), &raw,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  Database db(raw);
  if (status != SQLITE_OK) {
    throw std::runtime_error("cannot create " + PathText(file) + ": " +
                             (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(status)));
  }
  return db;
}

void Run(sqlite3* db, const std::filesystem::path& script) {
  char* message = nullptr;
  if (sqlite3_exec(db, ReadSql(script).c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error(PathText(script) + ": " + text);
  }
}

}  // namespace

std::vector<std::filesystem::path> SqlDirCandidates() {
  const std::filesystem::path self = FileSystemPath(ExecutableFolder());
#ifdef _WIN32
  // Beside lumirex.exe, in the zip and the build folder alike.
  return {self / "sql"};
#else
  return {self.parent_path() / "share" / "lumirex" / "sql", LUMIREX_SOURCE_SQL_DIR};
#endif
}

std::filesystem::path FindSqlDir() {
  std::string looked;
  for (const auto& dir : SqlDirCandidates()) {
    if (std::filesystem::is_regular_file(dir / "sqlite" / "pos-schema.sql")) return dir;
    looked += (looked.empty() ? "" : ", ") + PathText(dir);
  }
  throw std::runtime_error("cannot find sqlite/pos-schema.sql; looked in " + looked);
}

void BuildDemoDatabase(const std::filesystem::path& sqlDir, const std::filesystem::path& file) {
  std::filesystem::create_directories(file.parent_path());
  std::filesystem::remove(file);
  Database db = Create(file);
  Run(db.get(), sqlDir / "sqlite" / "pos-schema.sql");
  Run(db.get(), sqlDir / "sqlite" / "pos-demo.sql");
}

}  // namespace lumirex::cli
