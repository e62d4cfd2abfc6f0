// The day's log file, open for appending lines: the part of the log that
// differs between Linux and Windows.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace lumirex::log_file {

// Closed on every path, but only Close() reports a failure (IOError).
class LogFile {
 public:
  // Creates the file, and the folders above it when they are missing.
  explicit LogFile(const std::string& path);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // The pieces of one line, written in one system call, so the lines of two
  // processes never interleave.
  void Write(std::initializer_list<std::string_view> pieces);
  const std::string& Path() const { return path_; }
  void Close();

 private:
  std::string path_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int Open() const;
  void RequireRegularFile() const;
  int fd_ = -1;
#endif
};

}  // namespace lumirex::log_file
