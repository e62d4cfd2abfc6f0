// The configuration part of the C++ API.
#include "lumirex/lumirex.hpp"
#include "support/datetime.hpp"
#include "support/log.hpp"
#include "support/settings.hpp"

namespace lumirex {

void LogLumirex(std::string_view message) {
  WriteLogLine(message);
}

std::string LogFilePath() {
  return LogFilePathFor(Now());
}

void SetMessageHandler(MessageHandler handler) {
  settings::SetMessageSink(std::move(handler));
}
void SetBaseDir(std::optional<std::string> dir) {
  settings::SetBaseDir(std::move(dir));
}
void SetConnectionString(std::optional<std::string> connection) {
  settings::SetConnectionString(std::move(connection));
}
void SetCaFile(std::optional<std::string> file) {
  settings::SetCaFile(std::move(file));
}
std::optional<std::string> CaFile() {
  return settings::CaFile();
}
bool SetDecimalSeparator(char separator) {
  return settings::SetDecimalSeparator(separator);
}
std::string BaseDir() {
  return settings::BaseDir();
}
std::string ConnectionString() {
  return settings::ConnectionString();
}
char DecimalSeparator() {
  return settings::DecimalSeparator();
}
std::string Version() {
  return LUMIREX_VERSION;
}

}  // namespace lumirex
