#include "database/sqlite_path.hpp"
#include "support/errors.hpp"
#include "support/host_text.hpp"

namespace lumirex::sqlite_path {

DatabaseName::DatabaseName(const std::string& path) {
  const std::string name = Utf8FromHostText(path);
  if (!Carried(name)) {
    throw DatabaseError("the SQLite database's file name '" + path +
                        "' cannot hold both blanks and quotes");
  }
  carried_ = '"' + name + '"';
}

DatabaseName::~DatabaseName() = default;

}  // namespace lumirex::sqlite_path
