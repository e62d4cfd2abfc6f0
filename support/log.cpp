#include "support/log.hpp"

#include "support/datetime.hpp"
#include "support/log_file.hpp"
#include "support/settings.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

std::string Folder(std::string_view base) {
  while (base.size() > 1 && base.back() == '/') base.remove_suffix(1);
  return base.empty() ? std::string(".") : std::string(base);
}

using log_file::LogFile;

// The innermost session of this thread, if any.
thread_local LogSession* currentSession = nullptr;

}  // namespace

std::string LogFilePathFor(double dateTime) {
  return LogFilePathIn(settings::BaseDir(), dateTime);
}

std::string LogFilePathIn(std::string_view baseFolder, double dateTime) {
  const DateTimeParts p = DecodeDateTime(dateTime);
  std::string path = Folder(baseFolder);
  path += "/Dados/LogIntegracaoOrvo/LogIntegracaoOrvo_";
  AppendZeroPadded(path, p.year, 4);
  path += "/LogIntegracaoOrvo_";
  AppendZeroPadded(path, p.day, 2);
  AppendZeroPadded(path, p.month, 2);
  path += ".txt";
  return path;
}

void WriteLogLine(std::string_view message) {
  WriteLogLine(message, {});
}

void WriteLogLine(std::string_view label, std::string_view text) {
  // One reading of the clock, so a line written at midnight lands in the file
  // of the day its time stamp shows.
  const double now = Now();
  std::string stamp = DateTimeToStr(now);
  stamp += " - ";
  std::string path = LogFilePathFor(now);
  LogSession* session = currentSession;
  if (session == nullptr) {
    LogFile file(path);
    file.Write({stamp, label, text, "\r\n"});
    file.Close();
    return;
  }
  if (session->file_ && session->file_->Path() != path) {
    // Past midnight: the day before's file is done with.
    const std::unique_ptr<LogFile> done = std::move(session->file_);
    done->Close();
  }
  if (!session->file_) session->file_ = std::make_unique<LogFile>(path);
  try {
    session->file_->Write({stamp, label, text, "\r\n"});
  } catch (...) {
    session->file_.reset();
    throw;
  }
}

LogSession::LogSession() noexcept : outer_(currentSession) {
  currentSession = this;
}

LogSession::~LogSession() {
  currentSession = outer_;
}

}  // namespace lumirex
