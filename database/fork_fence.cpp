#include "database/fork_fence.hpp"

#include <condition_variable>
#include <memory>
#include <mutex>

#include "support/at_fork.hpp"
#include "support/no_destructor.hpp"

namespace lumirex {

namespace {

// A fork waiting to close the fence goes first: new work waits behind it, so
// a busy till cannot keep a fork waiting for good.
struct Fence {
  std::mutex mutex;
  std::condition_variable changed;
  int working = 0;
  bool forking = false;
};

// Work this thread has open: nested work (a session readied as it opens)
// does not wait for a fork that waits for its outer piece.
thread_local int ownWork = 0;

void Close();
void Reopen();
void ReopenInChild();

Fence& TheFence() {
  static NoDestructor<Fence> fence;
  static const int forkHandler = AtFork(ForkOrder::Database, {&Close, &Reopen, &ReopenInChild});
  (void)forkHandler;
  return *fence;
}
const BuiltAtLoad<&TheFence> fenceBuiltAtLoad;

// Held from the prepare step to the parent's or the child's: no work starts
// in between.
void Close() {
  Fence& fence = TheFence();
  fence.mutex.lock();
  fence.forking = true;
  std::unique_lock lock(fence.mutex, std::adopt_lock);
  fence.changed.wait(lock, [&] { return fence.working == ownWork; });
  lock.release();
}

void Reopen() {
  Fence& fence = TheFence();
  fence.forking = false;
  fence.mutex.unlock();
  fence.changed.notify_all();
}

// The child has only this thread, and only its work.
void ReopenInChild() {
  Fence& fence = TheFence();
  std::construct_at(&fence.mutex);
  std::construct_at(&fence.changed);
  fence.working = ownWork;
  fence.forking = false;
}

}  // namespace

DatabaseWork::DatabaseWork() noexcept {
  if (ownWork++ > 0) return;
  Fence& fence = TheFence();
  std::unique_lock lock(fence.mutex);
  fence.changed.wait(lock, [&] { return !fence.forking; });
  ++fence.working;
}

DatabaseWork::~DatabaseWork() {
  if (--ownWork > 0) return;
  Fence& fence = TheFence();
  {
    std::lock_guard lock(fence.mutex);
    --fence.working;
  }
  fence.changed.notify_all();
}

}  // namespace lumirex
