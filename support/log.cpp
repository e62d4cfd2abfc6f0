#include "support/log.hpp"

#include "support/datetime.hpp"
#include "support/log_file.hpp"
#include "support/log_format.hpp"
#include "support/settings.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

std::string Folder(std::string_view base) {
  while (base.size() > 1 && base.back() == '/') base.remove_suffix(1);
  return base.empty() ? std::string(".") : std::string(base);
}

bool SameStamp(const DateTimeParts& a, const DateTimeParts& b) {
  const bool aMidnight = a.hour == 0 && a.minute == 0 && a.second == 0 && a.millisecond == 0;
  const bool bMidnight = b.hour == 0 && b.minute == 0 && b.second == 0 && b.millisecond == 0;
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second && aMidnight == bMidnight;
}

}  // namespace

// What a log file is on either system; opening and writing are the system's.
namespace log_file {

LogFile::LogFile(std::string baseDir, const DateTimeParts& day)
    : LogFile(LogFilePathIn(baseDir, day)) {
  baseDir_ = std::move(baseDir);
  year_ = day.year;
  month_ = day.month;
  day_ = day.day;
}

bool LogFile::Holds(const std::string& baseDir, const DateTimeParts& now) const {
  return now.day == day_ && now.month == month_ && now.year == year_ && baseDir == baseDir_;
}

// The line's time stamp and separator, made again only when the second (or
// the date-only stamp of midnight) changes: a call's lines share a few.
std::string_view LogFile::StampOf(const DateTimeParts& now) {
  if (stamp_.empty() || !SameStamp(now, stamped_)) {
    stamp_ = DateTimeToStr(now);
    stamp_ += log_format::kStampSeparator;
    stamped_ = now;
  }
  return stamp_;
}

}  // namespace log_file

namespace {

using log_file::LogFile;

// The innermost session of this thread, if any.
thread_local LogSession* currentSession = nullptr;

}  // namespace

std::string LogFilePathFor(double dateTime) {
  return LogFilePathIn(settings::BaseDir(), dateTime);
}

std::string LogFilePathIn(std::string_view baseFolder, double dateTime) {
  return LogFilePathIn(baseFolder, DecodeDateTime(dateTime));
}

std::string LogFilePathIn(std::string_view baseFolder, const DateTimeParts& p) {
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
  const DateTimeParts now = DecodeDateTime(Now());
  std::string baseDir = settings::BaseDir();
  LogSession* session = currentSession;
  if (session == nullptr) {
    LogFile file(std::move(baseDir), now);
    file.Write({file.StampOf(now), label, text, "\r\n"});
    file.Close();
    return;
  }
  if (session->file_ && !session->file_->Holds(baseDir, now)) {
    // Past midnight, or another base folder: the file before is done with.
    const std::unique_ptr<LogFile> done = std::move(session->file_);
    done->Close();
  }
  if (!session->file_) session->file_ = std::make_unique<LogFile>(std::move(baseDir), now);
  try {
    session->file_->Write({session->file_->StampOf(now), label, text, "\r\n"});
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
