#include "support/runtime.hpp"

#include <algorithm>
#include <cstdlib>

#include "support/at_fork.hpp"
#include "support/library_thread.hpp"
#include "support/no_destructor.hpp"

namespace lumirex {

namespace {

// A spare unused this long is closed: a burst of calls should not keep the
// database's sessions and the service's connections open for good.
std::atomic<std::chrono::milliseconds::rep> idleAgeMs{30'000};

// How long Finalize waits for the janitor's thread to leave: a sweep that
// Finalize found under way may still be closing a database session.
constexpr std::chrono::seconds kStopWait{2};

struct Runtimes {
  std::mutex mutex;
  std::atomic<Runtime*> current{nullptr};
  // Every runtime built in this process, the abandoned ones included, so
  // that they stay reachable and are never destroyed.
  std::vector<std::unique_ptr<Runtime>> all;
};

Runtimes& TheRuntimes() {
  static NoDestructor<Runtimes> runtimes;
  static const int forkHandler =
      AtFork(ForkOrder::Runtime, {[] { runtimes->mutex.lock(); }, [] { runtimes->mutex.unlock(); },
                                  [] {
                                    runtimes->current.store(nullptr);
                                    runtimes->mutex.unlock();
                                  }});
  (void)forkHandler;
  return *runtimes;
}
const BuiltAtLoad<&TheRuntimes> runtimesBuiltAtLoad;

}  // namespace

Runtime& CurrentRuntime() {
  Runtimes& runtimes = TheRuntimes();
  if (Runtime* runtime = runtimes.current.load(std::memory_order_acquire)) return *runtime;
  std::lock_guard lock(runtimes.mutex);
  if (Runtime* runtime = runtimes.current.load()) return *runtime;
  runtimes.all.reserve(runtimes.all.size() + 1);
  runtimes.all.push_back(std::make_unique<Runtime>());
  runtimes.current.store(runtimes.all.back().get(), std::memory_order_release);
  return *runtimes.all.back();
}

bool Runtime::IsCurrent() const noexcept {
  return TheRuntimes().current.load(std::memory_order_acquire) == this;
}

RuntimePart& Runtime::Build(RuntimeSlot slot, std::unique_ptr<RuntimePart> (*make)()) {
  const auto index = static_cast<std::size_t>(slot);
  std::lock_guard lock(mutex_);
  if (RuntimePart* part = parts_[index].load()) return *part;
  owned_[index] = make();
  parts_[index].store(owned_[index].get(), std::memory_order_release);
  return *owned_[index];
}

void Runtime::Release() noexcept {
  for (std::atomic<RuntimePart*>& slot : parts_) {
    if (RuntimePart* part = slot.load(std::memory_order_acquire)) part->Release();
  }
  janitor_.Stop();
}

void Janitor::Watch(IdleSweeper& sweeper) noexcept {
  std::lock_guard lock(mutex_);
  // A runtime has fewer pools than places; one more is the library's fault.
  if (sweeperCount_ == sweepers_.size()) std::abort();
  sweepers_[sweeperCount_++] = &sweeper;
}

void Janitor::SweepAt(SteadyTime when) noexcept {
  std::lock_guard lock(mutex_);
  if (!wakeAt_ || when < *wakeAt_) {
    wakeAt_ = when;
    changed_.notify_all();
  }
  if (running_) return;
  try {
    LibraryThread([this] { Run(); }).detach();
    running_ = true;
  } catch (...) {
    // No thread now: the spares are still closed when the next call borrows
    // or returns one.
  }
}

void Janitor::Stop() noexcept {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  wakeAt_.reset();
  changed_.notify_all();
  // Bounded: Windows may have ended the thread already (a host's DLL calling
  // Finalize as the process exits), and then it never says so.
  ended_.wait_for(lock, kStopWait, [this] { return !running_; });
  stopping_ = false;
}

void Janitor::Run() noexcept {
  std::unique_lock lock(mutex_);
  while (wakeAt_ && !stopping_) {
    // Woken early (an earlier sweep wanted, or Stop): look again.
    const SteadyTime at = *wakeAt_;
    if (changed_.wait_until(lock, at) == std::cv_status::no_timeout) continue;
    wakeAt_.reset();
    const auto sweepers = sweepers_;
    const std::size_t count = sweeperCount_;
    lock.unlock();
    // Closing happens here, holding none of the janitor's locks.
    std::optional<SteadyTime> next;
    for (std::size_t i = 0; i < count; ++i) {
      if (const auto when = sweepers[i]->Sweep(); when && (!next || *when < *next)) next = when;
    }
    lock.lock();
    if (next && !stopping_ && (!wakeAt_ || *next < *wakeAt_)) wakeAt_ = next;
  }
  running_ = false;
  ended_.notify_all();
}

std::chrono::milliseconds SpareIdleAge() noexcept {
  return std::chrono::milliseconds(idleAgeMs.load(std::memory_order_relaxed));
}

void SetSpareIdleAge(std::chrono::milliseconds age) noexcept {
  idleAgeMs.store(age.count(), std::memory_order_relaxed);
}

}  // namespace lumirex
