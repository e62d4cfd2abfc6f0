#include "support/log.hpp"

#include <memory>
#include <mutex>
#include <vector>

#include "support/at_fork.hpp"
#include "support/datetime.hpp"
#include "support/log_file.hpp"
#include "support/log_format.hpp"
#include "support/no_destructor.hpp"
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

// The outermost session of this thread, if any.
thread_local LogSession* currentSession = nullptr;

// Lines kept back for one file, opened at the first of them.
struct Piece {
  std::unique_ptr<LogFile> file;
  std::string bytes;
};

// Which session writes its lines as they come; the blocks of sessions that
// finished meanwhile wait for it to end, so they never land inside its block.
struct WritingTurn {
  std::mutex mutex;
  const LogSession* writing = nullptr;
  std::vector<Piece> handed;
};

// Each block in one write; a block that cannot be written is passed over when
// `quiet`, as its call has returned already.
void WritePieces(std::vector<Piece>& pieces, bool quiet) {
  for (Piece& piece : pieces) {
    try {
      piece.file->Write({piece.bytes});
      const std::unique_ptr<LogFile> done = std::move(piece.file);
      done->Close();
    } catch (...) {
      if (!quiet) throw;
    }
  }
  pieces.clear();
}

WritingTurn& Turn() {
  static NoDestructor<WritingTurn> turn;
  // A fork's child has only the thread that forked: the turn is free unless
  // that thread's session held it, and the blocks handed on are the parent's
  // to write.
  static const int forkHandler = AtForkInChild([] {
    std::construct_at(&turn->mutex);
    if (turn->writing != currentSession) turn->writing = nullptr;
    turn->handed.clear();
  });
  (void)forkHandler;
  return *turn;
}

}  // namespace

struct LogSession::Kept {
  std::vector<Piece> done;  // of files left behind (a call across midnight)
  std::string bytes;        // for file_
};

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
    if (session->kept_) {
      session->kept_->done.push_back({std::move(session->file_), std::move(session->kept_->bytes)});
      session->kept_->bytes.clear();
    } else {
      const std::unique_ptr<LogFile> done = std::move(session->file_);
      done->Close();
    }
  }
  if (!session->file_) session->file_ = std::make_unique<LogFile>(std::move(baseDir), now);
  if (session->kept_) {
    std::string& bytes = session->kept_->bytes;
    bytes += session->file_->StampOf(now);
    bytes += label;
    bytes += text;
    bytes += "\r\n";
    return;
  }
  try {
    session->file_->Write({session->file_->StampOf(now), label, text, "\r\n"});
  } catch (...) {
    session->file_.reset();
    throw;
  }
}

LogSession::LogSession() noexcept : outer_(currentSession) {
  if (outer_ != nullptr) return;
  currentSession = this;
  try {
    WritingTurn& turn = Turn();
    std::lock_guard lock(turn.mutex);
    if (turn.writing == nullptr) {
      turn.writing = this;
      return;
    }
    kept_ = std::make_unique<Kept>();
  } catch (...) {
    // Out of memory: the lines go out one by one, as they come.
  }
}

LogSession::~LogSession() {
  try {
    Finish();
  } catch (...) {
    // The caller that cares finishes the session itself.
  }
}

void LogSession::Finish() {
  if (!open_) return;
  open_ = false;
  if (outer_ != nullptr) return;
  currentSession = nullptr;
  if (file_ && kept_) kept_->done.push_back({std::move(file_), std::move(kept_->bytes)});
  file_.reset();
  WritingTurn& turn = Turn();
  std::lock_guard lock(turn.mutex);
  if (!kept_) {
    if (turn.writing != this) return;
    WritePieces(turn.handed, true);
    turn.writing = nullptr;
    return;
  }
  if (turn.writing != nullptr) {
    for (Piece& piece : kept_->done) turn.handed.push_back(std::move(piece));
    return;
  }
  WritePieces(kept_->done, false);
}

}  // namespace lumirex
