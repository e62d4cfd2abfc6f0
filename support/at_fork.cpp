#include "support/at_fork.hpp"

#ifndef _WIN32
#include <pthread.h>
#endif

#include <array>
#include <cstdlib>
#include <mutex>

#include "support/no_destructor.hpp"

namespace lumirex {

namespace {

struct Entry {
  ForkOrder order;
  ForkHandler handler;
};

// A fixed table: registering must not allocate, and the library has few.
constexpr std::size_t kMaxHandlers = 32;

struct Table {
  std::mutex mutex;
  std::array<Entry, kMaxHandlers> entries{};
  std::size_t count = 0;
  bool registered = false;
};

Table& TheTable() {
  static NoDestructor<Table> table;
  return *table;
}

#ifndef _WIN32
// How many handlers the prepare step of this thread's fork ran: the parent's
// and the child's steps run those, and only those. The table's lock is not
// held across the fork: a thread registering a handler at that moment, from
// inside the build of a function-local static, would otherwise wait for the
// fork, and the child would inherit that static half built and wait on it
// for ever.
thread_local std::size_t prepared = 0;

void Prepare() {
  Table& table = TheTable();
  {
    std::lock_guard lock(table.mutex);
    prepared = table.count;
  }
  for (int order = static_cast<int>(ForkOrder::Outbox);
       order <= static_cast<int>(ForkOrder::Sqlite); ++order) {
    for (std::size_t i = 0; i < prepared; ++i) {
      const Entry& entry = table.entries[i];
      if (static_cast<int>(entry.order) == order && entry.handler.prepare) entry.handler.prepare();
    }
  }
}

template <void (*ForkHandler::*Step)()>
void Release() {
  Table& table = TheTable();
  for (int order = static_cast<int>(ForkOrder::Sqlite);
       order >= static_cast<int>(ForkOrder::Outbox); --order) {
    for (std::size_t i = prepared; i-- > 0;) {
      const Entry& entry = table.entries[i];
      if (static_cast<int>(entry.order) == order && entry.handler.*Step) (entry.handler.*Step)();
    }
  }
}
#endif

}  // namespace

int AtFork(ForkOrder order, ForkHandler handler) noexcept {
  Table& table = TheTable();
  std::lock_guard lock(table.mutex);
  // A table too small is the library's own fault, found by its first test.
  if (table.count == kMaxHandlers) std::abort();
  table.entries[table.count++] = {order, handler};
#ifndef _WIN32
  if (!table.registered) {
    table.registered = true;
    pthread_atfork(&Prepare, &Release<&ForkHandler::parent>, &Release<&ForkHandler::child>);
  }
#endif
  return 0;
}

}  // namespace lumirex
