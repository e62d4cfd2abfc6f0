#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "database/sqlite_path.hpp"
#include "support/errors.hpp"

namespace lumirex::sqlite_path {

DatabaseName::DatabaseName(const std::string& path) {
  if (Carried(path)) {
    carried_ = '"' + path + '"';
    return;
  }
  const std::filesystem::path file(path);
  const std::string name = file.filename().string();
  if (!Carried(name)) {
    throw DatabaseError("the SQLite database's file name '" + name +
                        "' cannot hold both blanks and quotes");
  }
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder_ < 0) {
    throw DatabaseError("cannot open the folder of the SQLite database '" + path +
                        "': " + std::generic_category().message(errno));
  }
  carried_ = "\"/proc/self/fd/" + std::to_string(folder_) + "/" + name + '"';
}

DatabaseName::~DatabaseName() {
  if (folder_ >= 0) ::close(folder_);
}

}  // namespace lumirex::sqlite_path
