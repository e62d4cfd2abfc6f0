#include "support/sqlite_fork.hpp"

#include <sqlite3.h>

#include <array>

#include "support/at_fork.hpp"

namespace lumirex {

namespace {

// Outermost first, as SQLite nests them: a new file's open takes the open
// files' lock, may draw random numbers (which may look up the default VFS,
// the main lock), and allocates last; the page cache's locks come before the
// allocator's.
constexpr std::array kOrder = {
    SQLITE_MUTEX_STATIC_OPEN, SQLITE_MUTEX_STATIC_PRNG, SQLITE_MUTEX_STATIC_MAIN,
    SQLITE_MUTEX_STATIC_VFS1, SQLITE_MUTEX_STATIC_LRU,  SQLITE_MUTEX_STATIC_PMEM,
    SQLITE_MUTEX_STATIC_MEM,
};

std::array<sqlite3_mutex*, kOrder.size()> mutexes{};

void TakeAll() {
  for (sqlite3_mutex* mutex : mutexes) sqlite3_mutex_enter(mutex);
}

void ReleaseAll() {
  for (auto it = mutexes.rbegin(); it != mutexes.rend(); ++it) sqlite3_mutex_leave(*it);
}

int Register() noexcept {
  // A static mutex is the same object on every call; a SQLite built without
  // threads has none (null), which entering and leaving pass over.
  for (std::size_t i = 0; i < kOrder.size(); ++i) mutexes[i] = sqlite3_mutex_alloc(kOrder[i]);
  return AtFork(ForkOrder::Sqlite, {&TakeAll, &ReleaseAll, &ReleaseAll});
}

}  // namespace

void KeepSqliteWholeAcrossFork() noexcept {
  static const int registered = Register();
  (void)registered;
}

namespace {
const BuiltAtLoad<&KeepSqliteWholeAcrossFork> registeredAtLoad;
}  // namespace

}  // namespace lumirex
