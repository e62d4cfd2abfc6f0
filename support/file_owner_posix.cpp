#include "support/file_owner.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace lumirex {

void TakeFolderOwner(const std::string& path, int fd) noexcept {
  if (::geteuid() != 0) return;
  try {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    struct stat parent {};
    struct stat self {};
    if (::stat(folder.c_str(), &parent) != 0) return;
    const int found = fd >= 0 ? ::fstat(fd, &self) : ::lstat(path.c_str(), &self);
    if (found != 0 || self.st_uid != 0 || parent.st_uid == 0) return;
    if (fd >= 0) {
      (void)::fchown(fd, parent.st_uid, parent.st_gid);
    } else {
      (void)::lchown(path.c_str(), parent.st_uid, parent.st_gid);
    }
  } catch (...) {
    // Out of memory building the folder's name: the file stays as made.
  }
}

}  // namespace lumirex
