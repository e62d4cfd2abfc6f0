// The integration log: one text file a day, in a folder a year, under the base folder.
#pragma once

#include <string>
#include <string_view>

namespace lumirex {

// <base>/Dados/LogIntegracaoOrvo/LogIntegracaoOrvo_<yyyy>/LogIntegracaoOrvo_<ddmm>.txt
// for the day of the date-time given.
std::string LogFilePathFor(double dateTime);
// The same under another base folder ("" for the current one), for tools that
// read the logs of a till without being its library.
std::string LogFilePathIn(std::string_view baseFolder, double dateTime);

// Appends "<DateTimeToStr(now)> - <message>\r\n" to today's file with one
// write, creating the file and its folders when missing. Raises IOError
// naming the path and the system's error text.
void WriteLogLine(std::string_view message);

// The same line for the message label + text, without joining the two in
// memory first: the text may be a whole answer of the service.
void WriteLogLine(std::string_view label, std::string_view text);

}  // namespace lumirex
