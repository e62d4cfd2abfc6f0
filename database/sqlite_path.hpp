// Handing a database file name and option values to SOCI's sqlite3 backend,
// whose option reader has no escapes: it splits at blanks, and a value opened
// by '"' runs to the next '"' after its first blank.
#pragma once

#include <string>
#include <string_view>

namespace lumirex::sqlite_path {

// Whether that reader takes the value back whole once it is quoted.
bool Carried(const std::string& value);

// The value as that reader takes it back unchanged; DatabaseError naming the
// option when it holds both a blank and a quote where the reader cannot.
std::string ForSoci(std::string_view key, const std::string& value);

// A database file name that reaches SQLite unchanged, whatever its folders
// are called. A name the reader cannot carry goes as /proc/self/fd/<n>/<file>
// through a handle of its folder, held while the session is opened (SQLite
// keeps the resolved real path). On Windows the name goes as UTF-8, the
// encoding SQLite takes file names in there.
class DatabaseName {
 public:
  explicit DatabaseName(const std::string& path);
  ~DatabaseName();
  DatabaseName(const DatabaseName&) = delete;
  DatabaseName& operator=(const DatabaseName&) = delete;

  // "db=" takes this.
  const std::string& ForSoci() const { return carried_; }

 private:
  int folder_ = -1;
  std::string carried_;
};

}  // namespace lumirex::sqlite_path
