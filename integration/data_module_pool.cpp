#include "integration/data_module_pool.hpp"

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "integration/call_outcome.hpp"
#include "support/at_fork.hpp"
#include "support/no_destructor.hpp"

namespace lumirex {

namespace {

using Clock = std::chrono::steady_clock;

// A spare unused this long has its connection closed: a burst of calls
// should not keep the database's sessions open for good.
constexpr auto kIdleLimit = std::chrono::seconds(30);

struct Spare {
  std::unique_ptr<TrdmIntegraLumirex> module;
  Clock::time_point since;
};

struct Pool {
  std::mutex mutex;
  bool firstLent = false;
  std::vector<Spare> idle;  // most recently returned last
};

// Whether this thread borrowed the first instance, for a fork's child.
thread_local bool holdsFirst = false;

Pool& ThePool() {
  static NoDestructor<Pool> pool;
  // A fork's child keeps only what the thread that forked is using; every
  // other instance shares a connection with the parent and is set aside.
  static const int forkHandler = AtForkInChild([] {
    std::construct_at(&pool->mutex);
    if (!holdsFirst) {
      AbandonDataModule();
      pool->firstLent = false;
    }
    for (Spare& spare : pool->idle) AbandonDataModule(std::move(spare.module));
    pool->idle.clear();
  });
  (void)forkHandler;
  return *pool;
}

std::unique_ptr<TrdmIntegraLumirex> NewModule() {
  try {
    return std::make_unique<TrdmIntegraLumirex>();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& error) {
    throw CallFailure(LUMIREX_E_DATABASE, error.what());
  }
}

// The spares idle too long, taken out to be closed outside the lock.
std::vector<Spare> TakeStale(Pool& pool) {
  std::vector<Spare> stale;
  const Clock::time_point now = Clock::now();
  std::erase_if(pool.idle, [&](Spare& spare) {
    if (now - spare.since < kIdleLimit) return false;
    stale.push_back(std::move(spare));
    return true;
  });
  return stale;
}

}  // namespace

BorrowedModule::BorrowedModule() {
  Pool& pool = ThePool();
  std::unique_lock lock(pool.mutex);
  if (!pool.firstLent) {
    pool.firstLent = true;
    holdsFirst = true;
    lock.unlock();
    try {
      if (!rdmIntegraLumirex) rdmIntegraLumirex = NewModule();
    } catch (...) {
      lock.lock();
      pool.firstLent = false;
      holdsFirst = false;
      throw;
    }
    module_ = rdmIntegraLumirex.get();
    return;
  }
  if (!pool.idle.empty()) {
    spare_ = std::move(pool.idle.back().module);
    pool.idle.pop_back();
  }
  lock.unlock();
  if (!spare_) spare_ = NewModule();
  module_ = spare_.get();
}

BorrowedModule::~BorrowedModule() {
  Pool& pool = ThePool();
  std::vector<Spare> stale;
  std::lock_guard lock(pool.mutex);
  if (!spare_) {
    pool.firstLent = false;
    holdsFirst = false;
    return;
  }
  try {
    pool.idle.push_back({std::move(spare_), Clock::now()});
    stale = TakeStale(pool);
  } catch (...) {
    // Out of memory: the spare goes with this object, closing its connection.
  }
}

void ReleaseDataModules() noexcept {
  Pool& pool = ThePool();
  std::vector<Spare> idle;
  {
    std::lock_guard lock(pool.mutex);
    idle.swap(pool.idle);
  }
  rdmIntegraLumirex.reset();
}

}  // namespace lumirex
