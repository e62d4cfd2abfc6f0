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
// naming the path and the system's error text. Inside a session the line
// joins the session's block instead.
void WriteLogLine(std::string_view message);

// The same line for the message label + text, without joining the two in
// memory first when it is written alone: the text may be a whole answer of
// the service.
void WriteLogLine(std::string_view label, std::string_view text);

// One line as a block of its own, appended now even on a thread whose
// session is open: a line that is not a step of the call (a host's note, the
// refusal of a call made from inside a call) never joins that call's block.
void WriteLogLineAlone(std::string_view label, std::string_view text);

// While it lives, the lines this thread writes make one block, appended to
// the day's file with one write (O_APPEND) when the session finishes: blocks
// of other threads and other processes land before or after it, never in
// it, and nothing waits for anyone else's call. Each line keeps the time
// stamp of the moment it was written. The day's file is opened at the
// session's first line, so a log that cannot be opened fails there, before
// the call has done anything, and that one descriptor is the session's
// until it finishes. A line of another day (a call across midnight) first
// appends the lines of the day before to that day's file. Sessions nest: an
// inner one's lines join the outer one's block.
class LogSession {
 public:
  LogSession() noexcept;
  // Finishes, passing over a failure.
  ~LogSession();
  LogSession(const LogSession&) = delete;
  LogSession& operator=(const LogSession&) = delete;

  // Appends the block and ends the session; raises IOError when it cannot
  // be written. Lines written after it are appended one by one.
  void Finish();

 private:
  friend void WriteLogLine(std::string_view label, std::string_view text);

  void Keep(std::string_view stamp, std::string_view label, std::string_view text);
  // Appends the lines kept for file_ and closes it.
  void WriteOut();

  std::unique_ptr<log_file::LogFile> file_;
  std::string block_;  // the lines kept for file_
  LogSession* outer_;
  bool open_ = true;
};

}  // namespace lumirex
