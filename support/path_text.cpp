#include "support/path_text.hpp"

namespace lumirex {

// The char8_t forms are the ones the standard defines as UTF-8; the plain
// char forms follow the ANSI code page on Windows.
std::filesystem::path FileSystemPath(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace lumirex
