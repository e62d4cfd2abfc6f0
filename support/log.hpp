// The integration log: one text file a day, in a folder a year, under the base folder.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "support/datetime.hpp"

namespace lumirex {

namespace log_file {
class LogFile;
}

// <base>/Dados/LogIntegracaoOrvo/LogIntegracaoOrvo_<yyyy>/LogIntegracaoOrvo_<ddmm>.txt
// for the day of the date-time given.
std::string LogFilePathFor(double dateTime);
// The same under another base folder ("" for the current one), for tools that
// read the logs of a till without being its library.
std::string LogFilePathIn(std::string_view baseFolder, double dateTime);
std::string LogFilePathIn(std::string_view baseFolder, const DateTimeParts& day);

// Appends "<DateTimeToStr(now)> - <message>\r\n" to today's file with one
// write, creating the file and its folders when missing. Raises IOError
// naming the path and the system's error text.
void WriteLogLine(std::string_view message);

// The same line for the message label + text, without joining the two in
// memory first: the text may be a whole answer of the service.
void WriteLogLine(std::string_view label, std::string_view text);

// While it lives, the lines this thread writes share one descriptor: the
// day's file is opened at the first line and closed when the session ends,
// instead of once per line. Each line is still one write made before
// WriteLogLine returns, so nothing waits in memory. A line of another day (a
// call across midnight) closes the file and opens that day's; a line that
// fails leaves the file closed, and the next line opens it again. Sessions
// nest: the inner one writes until it ends. Outside any session every line
// opens and closes the file.
class LogSession {
 public:
  LogSession() noexcept;
  // Closes the file; a failure to close is passed over, as every line
  // already reached the file system when it was written.
  ~LogSession();
  LogSession(const LogSession&) = delete;
  LogSession& operator=(const LogSession&) = delete;

 private:
  friend void WriteLogLine(std::string_view label, std::string_view text);

  std::unique_ptr<log_file::LogFile> file_;
  LogSession* outer_;
};

}  // namespace lumirex
