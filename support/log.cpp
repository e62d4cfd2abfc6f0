#include "support/log.hpp"

#include <memory>

#include "support/datetime.hpp"
#include "support/log_file.hpp"
#include "support/log_format.hpp"
#include "support/settings.hpp"
#include "support/system_clock_and_path.hpp"
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

bool LogFile::Holds(const DateTimeParts& now) const {
  return now.day == day_ && now.month == month_ && now.year == year_ &&
         settings::IsBaseDir(baseDir_);
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

// The outermost session of this thread, if any: the only state the log keeps.
thread_local LogSession* currentSession = nullptr;

// Room kept for the short lines that follow: a call's thirteen lines take one
// allocation, and a block holding a large answer is not doubled in memory by
// the "FIM" after it, as growing by doubling would.
constexpr std::size_t kRoomAfter = 4096;

void AppendLine(std::string_view label, std::string_view text) {
  const DateTimeParts now = LocalTimeNow();
  LogFile file(settings::BaseDir(), now);
  file.Write({file.StampOf(now), label, text, "\r\n"});
  file.Close();
}

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
  LogSession* session = currentSession;
  if (session == nullptr) {
    AppendLine(label, text);
    return;
  }
  // One reading of the clock, so a line written at midnight lands in the file
  // of the day its time stamp shows.
  const DateTimeParts now = LocalTimeNow();
  // Past midnight, or another base folder: the lines of the file before are
  // done with, and go to it now, whole.
  if (session->file_ && !session->file_->Holds(now)) session->WriteOut();
  if (!session->file_) session->file_ = std::make_unique<LogFile>(settings::BaseDir(), now);
  session->Keep(session->file_->StampOf(now), label, text);
}

void WriteLogLineAlone(std::string_view label, std::string_view text) {
  AppendLine(label, text);
}

LogSession::LogSession() noexcept : outer_(currentSession) {
  if (outer_ == nullptr) currentSession = this;
}

LogSession::~LogSession() {
  try {
    Finish();
  } catch (...) {
    // The caller that cares finishes the session itself.
  }
}

void LogSession::Keep(std::string_view stamp, std::string_view label, std::string_view text) {
  const std::size_t needed = block_.size() + stamp.size() + label.size() + text.size() + 2;
  if (needed > block_.capacity()) block_.reserve(needed + kRoomAfter);
  block_ += stamp;
  block_ += label;
  block_ += text;
  block_ += "\r\n";
}

void LogSession::WriteOut() {
  const std::unique_ptr<LogFile> file = std::move(file_);
  const std::string block = std::move(block_);
  block_.clear();
  if (!block.empty()) file->Write({block});
  file->Close();
}

void LogSession::Finish() {
  if (!open_) return;
  open_ = false;
  if (outer_ != nullptr) return;
  currentSession = nullptr;
  if (file_) WriteOut();
}

}  // namespace lumirex
