// Files and folders made by a process run as root inside a user's folder.
#pragma once

#include <string>

namespace lumirex {

// When this process runs as root and `path` (just made by it) belongs to
// root, gives it the owner and group of the folder it is in: a support tool
// or a timer run as root under a till's base folder must leave behind what
// the till's own user can write, on this day and every later one. A file or
// folder of anyone else is left as it is. `fd`, when given, is the open file
// at `path`. Nothing is reported: the caller's work goes on either way.
void TakeFolderOwner(const std::string& path, int fd = -1) noexcept;

}  // namespace lumirex
