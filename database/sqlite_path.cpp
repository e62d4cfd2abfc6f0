#include "database/sqlite_path.hpp"

#include "support/errors.hpp"

namespace lumirex::sqlite_path {

// Quoted, the value goes over whole when it has no blank; with one, its part
// before the first blank must not end in '"' and the rest must hold none.
bool Carried(const std::string& value) {
  const std::size_t blank = value.find(' ');
  if (blank == std::string::npos) return true;
  return blank > 0 && value[blank - 1] != '"' && value.find('"', blank) == std::string::npos;
}

std::string ForSoci(std::string_view key, const std::string& value) {
  if (!Carried(value)) {
    throw DatabaseError("the value of SQLite connection option '" + std::string(key) +
                        "' cannot hold both blanks and quotes");
  }
  return '"' + value + '"';
}

}  // namespace lumirex::sqlite_path
