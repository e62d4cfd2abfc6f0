#include "database/sqlite_path.hpp"
#include "support/errors.hpp"

namespace lumirex::sqlite_path {

DatabaseName::DatabaseName(const std::string& path) {
  // Kept as UTF-8 (support/path_text.hpp), which is what SQLite takes on Windows.
  const std::string& name = path;
  if (!Carried(name)) {
    throw DatabaseError("the SQLite database's file name '" + path +
                        "' cannot hold both blanks and quotes");
  }
  carried_ = '"' + name + '"';
}

DatabaseName::~DatabaseName() = default;

}  // namespace lumirex::sqlite_path
