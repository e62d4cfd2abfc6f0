// The day's log file, open for appending lines: the part of the log that
// differs between Linux and Windows.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "support/datetime.hpp"

namespace lumirex::log_file {

// Closed on every path, but only Close() reports a failure (IOError).
class LogFile {
 public:
  // Creates the file, and the folders above it when they are missing.
  explicit LogFile(const std::string& path);
  // The file of `day` under `baseDir`.
  LogFile(std::string baseDir, const DateTimeParts& day);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // The pieces of one line, or a whole block as one piece, appended in one
  // system call, so that what other threads and processes append lands
  // before or after it, never inside it.
  void Write(std::initializer_list<std::string_view> pieces);
  const std::string& Path() const { return path_; }
  void Close();

  // Whether a line of this moment, under the base folder in force, belongs in
  // this file.
  bool Holds(const DateTimeParts& now) const;
  // The time stamp and separator a line of this moment starts with.
  std::string_view StampOf(const DateTimeParts& now);

 private:
  std::string path_;
  std::string baseDir_;
  int year_ = 0, month_ = 0, day_ = 0;
  std::string stamp_;
  DateTimeParts stamped_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int Open() const;
  int fd_ = -1;
#endif
};

}  // namespace lumirex::log_file
