// The one rule for everything the library keeps between calls (data modules,
// HTTP handles). The most recently returned is lent first, so a lone caller
// always gets the same one; at most `cap` wait idle; one idle longer than
// SpareIdleAge() is closed, when one is borrowed or returned and, with no
// traffic at all, by the runtime's janitor. Closing (destroying an item)
// never happens under the pool's lock: it may wait on a database or a socket.
// Borrowing reserves the room its return needs, so giving back never fails.
// A pool is never destroyed while its janitor may sweep it (a runtime's parts
// never are).
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "support/runtime.hpp"

namespace lumirex {

template <typename Item>
class IdlePool final : public IdleSweeper {
 public:
  explicit IdlePool(Janitor& janitor) : janitor_(janitor) { janitor_.Watch(*this); }
  IdlePool(const IdlePool&) = delete;
  IdlePool& operator=(const IdlePool&) = delete;

  // The most recently returned item, or null when none waits (the caller
  // makes one); either way it counts as lent until Give.
  std::unique_ptr<Item> Take() {
    std::vector<Idle> stale;
    std::unique_ptr<Item> item;
    {
      std::lock_guard lock(mutex_);
      idle_.reserve(idle_.size() + lent_ + 1);
      ++lent_;
      try {
        TakeStale(stale);
      } catch (const std::bad_alloc&) {
        // Left for the next sweep.
      }
      if (!idle_.empty()) {
        item = std::move(idle_.back().item);
        idle_.pop_back();
      }
    }
    return item;
  }

  // Gives back what Take lent; an item over `cap` is closed.
  void Give(std::unique_ptr<Item> item, std::size_t cap) noexcept {
    std::vector<Idle> stale;
    std::optional<SteadyTime> sweepAt;
    {
      std::lock_guard lock(mutex_);
      --lent_;
      if (item && idle_.size() < cap) {
        idle_.push_back({std::move(item), std::chrono::steady_clock::now()});
        sweepAt = idle_.front().since + SpareIdleAge();
      }
      try {
        TakeStale(stale);
      } catch (const std::bad_alloc&) {
        // Left for the next sweep.
      }
    }
    if (sweepAt) janitor_.SweepAt(*sweepAt);
  }

  // Forgets one that was lent and is not coming back.
  void Lost() noexcept {
    std::lock_guard lock(mutex_);
    --lent_;
  }

  std::optional<SteadyTime> Sweep() noexcept override {
    std::vector<Idle> stale;
    std::lock_guard lock(mutex_);
    try {
      TakeStale(stale);
    } catch (const std::bad_alloc&) {
      return std::chrono::steady_clock::now() + SpareIdleAge();
    }
    if (idle_.empty()) return std::nullopt;
    return idle_.front().since + SpareIdleAge();
  }

  // Finalize's part: every idle item is closed.
  void CloseIdle() noexcept {
    std::vector<Idle> idle;
    {
      std::lock_guard lock(mutex_);
      idle.swap(idle_);
      try {
        idle_.reserve(lent_);
      } catch (const std::bad_alloc&) {
        // Only out of memory; the lent come back to a full pool and close.
      }
    }
  }

  std::size_t IdleCount() {
    std::lock_guard lock(mutex_);
    return idle_.size();
  }

 private:
  struct Idle {
    std::unique_ptr<Item> item;
    SteadyTime since;
  };

  // Moves the items idle too long into `stale`, which closes them once the
  // caller has let go of the lock (it is declared before the lock).
  void TakeStale(std::vector<Idle>& stale) {
    const SteadyTime limit = std::chrono::steady_clock::now() - SpareIdleAge();
    std::size_t old = 0;
    while (old < idle_.size() && idle_[old].since <= limit) ++old;
    if (old == 0) return;
    stale.reserve(old);
    for (std::size_t i = 0; i < old; ++i) stale.push_back(std::move(idle_[i]));
    idle_.erase(idle_.begin(), idle_.begin() + static_cast<std::ptrdiff_t>(old));
  }

  Janitor& janitor_;
  std::mutex mutex_;
  std::vector<Idle> idle_;  // oldest first, the most recently returned last
  std::size_t lent_ = 0;
};

}  // namespace lumirex
