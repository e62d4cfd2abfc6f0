#include "cli/log_tail.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/display_text.hpp"
#include "lumirex/lumirex.hpp"
#include "support/path_text.hpp"

namespace lumirex::cli {

namespace {

std::uintmax_t SizeOf(const std::string& file) {
  std::error_code error;
  std::uintmax_t size = std::filesystem::file_size(FileSystemPath(file), error);
  return error ? 0 : size;
}

void AppendLines(const std::string& file, std::uintmax_t from, std::vector<std::string>& lines) {
  std::ifstream in(FileSystemPath(file), std::ios::binary);
  if (!in) return;
  in.seekg(static_cast<std::streamoff>(from));
  std::string line;
  while (std::getline(in, line)) {
    std::erase(line, '\r');
    // The log mixes the library's Windows-1252 lines with the service's
    // answers as they arrived, which are UTF-8: each line is read as what it is.
    lines.push_back(FromServiceBytes(line));
  }
}

}  // namespace

LogMark MarkLog() {
  LogMark mark;
  mark.file = LogFilePath();
  mark.size = SizeOf(mark.file);
  return mark;
}

std::vector<std::string> LogLinesSince(const LogMark& mark) {
  std::vector<std::string> lines;
  AppendLines(mark.file, mark.size, lines);
  std::string today = LogFilePath();
  if (today != mark.file) AppendLines(today, 0, lines);
  return lines;
}

}  // namespace lumirex::cli
