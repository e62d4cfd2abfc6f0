#include "integration/outbox_status.hpp"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "integration/forwarder.hpp"
#include "outbox/outbox.hpp"
#include "outbox/outbox_settings.hpp"
#include "support/no_cancellation.hpp"
#include "support/path_text.hpp"
#include "support/process_state.hpp"

namespace lumirex {

namespace {

std::atomic<std::uint64_t> ownWrites{0};

// A file's time and size, as a stat tells them; zero when it is missing.
struct FileStamp {
  std::int64_t time = 0;
  std::uintmax_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::filesystem::path& path) {
  std::error_code error;
  FileStamp stamp;
  const auto time = std::filesystem::last_write_time(path, error);
  if (error) return stamp;
  stamp.time = time.time_since_epoch().count();
  stamp.size = std::filesystem::file_size(path, error);
  if (error) stamp.size = 0;
  return stamp;
}

struct Seen {
  std::string file;
  FileStamp main, journal;
  std::uint64_t writes = 0;
  outbox::Waiting waiting;
};

struct StatusCache {
  std::mutex mutex;  // held briefly: the reading happens outside it
  std::optional<Seen> seen;
};

std::int64_t WallNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The outbox's figures, from the cache when nothing changed since they were read.
outbox::Waiting Figures(const std::string& file) {
  const std::filesystem::path path = FileSystemPath(file);
  Seen now{file,
           StampOf(path),
           StampOf(FileSystemPath(file + "-wal")),
           ownWrites.load(std::memory_order_acquire),
           {}};
  // Named but not made yet: nothing was ever kept.
  if (now.main == FileStamp{}) return {};
  StatusCache& cache = ProcessState<StatusCache>();
  {
    std::lock_guard lock(cache.mutex);
    const std::optional<Seen>& seen = cache.seen;
    if (seen && seen->file == file && seen->main == now.main && seen->journal == now.journal &&
        seen->writes == now.writes) {
      return seen->waiting;
    }
  }
  now.waiting = outbox::Outbox(file, outbox::SqliteFile::Mode::Read).Summary();
  std::lock_guard lock(cache.mutex);
  cache.seen = now;
  return now.waiting;
}

}  // namespace

void NoteOutboxChanged() noexcept {
  ownWrites.fetch_add(1, std::memory_order_release);
}

bool ReadOutboxStatus(OutboxStatusNow& now) noexcept {
  const NoCancellation noCancellation;
  now.watch = WatchNow();
  now.forwarding = ForwardingOn();
  try {
    const std::optional<std::string> file = outbox::File();
    if (!file) return false;
    const outbox::Waiting waiting = Figures(*file);
    now.waiting = waiting.count;
    now.held = waiting.held;
    if (waiting.count > 0 && waiting.oldestKeptEpoch > 0) {
      now.oldestAge = std::max<std::int64_t>(WallNow() - waiting.oldestKeptEpoch, 0);
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace lumirex
