// The integration log lines written since a moment, for showing what a run logged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumirex::cli {

// Today's log file and how long it was when the mark was taken.
struct LogMark {
  std::string file;
  std::uintmax_t size = 0;
};

LogMark MarkLog();

// The lines appended since the mark, in UTF-8 and without their carriage
// returns; a run that crossed midnight also gets the new day's file. An entry
// that holds line feeds (a request or an answer) spans several lines.
std::vector<std::string> LogLinesSince(const LogMark& mark);

}  // namespace lumirex::cli
