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
// instead of once per line. A line of another day (a call across midnight)
// closes the file and opens that day's; a line that fails leaves the file
// closed, and the next line opens it again. Sessions nest: an inner one
// writes through the outer one. Outside any session every line opens and
// closes the file.
//
// A session's lines stay together as one block. The first session of the
// process writes each line before WriteLogLine returns, exactly as a lone
// call always has; a session that starts while another writes keeps its
// lines (each with its own time stamp) and appends them in one write when it
// finishes, or, if the writing session is still open then, hands them to it
// to append when it ends. Its file is still opened at its first line, so a
// log that cannot be opened fails there.
class LogSession {
 public:
  LogSession() noexcept;
  // Finishes, passing over a failure.
  ~LogSession();
  LogSession(const LogSession&) = delete;
  LogSession& operator=(const LogSession&) = delete;

  // Appends the lines kept back, or hands them on, and ends the session's
  // writing; raises IOError when they cannot be written. Lines written
  // after it open and close the file each.
  void Finish();

 private:
  friend void WriteLogLine(std::string_view label, std::string_view text);
  struct Kept;

  void Keep(std::string_view label, std::string_view text);

  std::unique_ptr<log_file::LogFile> file_;
  std::unique_ptr<Kept> kept_;  // null while writing through
  LogSession* outer_;
  bool open_ = true;
};

}  // namespace lumirex
