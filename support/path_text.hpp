// Folders and files, and the connection strings and option values that name
// them, are kept as UTF-8 on every system: Windows' UTF-16 names convert to
// it and back without loss, whatever the host's code page, and Linux's names
// are UTF-8 by convention. Host texts meet them only at the C ABI's setters
// and getters, which convert from and to the host encoding.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace lumirex {

// A path text as the file system's own path (UTF-16 on Windows).
std::filesystem::path FileSystemPath(std::string_view utf8);

// A file system path as a path text.
std::string PathText(const std::filesystem::path& path);

}  // namespace lumirex
