// A mutex for the library's process-wide state that fork() cannot leave
// locked for good. A child process has only the thread that forked; a lock
// another thread held at that moment would never be released there. The
// owner of the state calls ResetInChild from its pthread_atfork child handler.
#pragma once

#include <pthread.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace lumirex {

class ForkSafeMutex {
 public:
  void lock() {
    mutex_.lock();
    owner_.store(pthread_self(), std::memory_order_relaxed);
    held_.store(true, std::memory_order_relaxed);
  }
  bool try_lock() {
    if (!mutex_.try_lock()) return false;
    owner_.store(pthread_self(), std::memory_order_relaxed);
    held_.store(true, std::memory_order_relaxed);
    return true;
  }
  void unlock() {
    held_.store(false, std::memory_order_relaxed);
    mutex_.unlock();
  }

  // Whether the calling thread holds the lock: a caller that would wait for
  // itself can refuse instead.
  bool HeldByThisThread() const {
    return held_.load(std::memory_order_relaxed) &&
           pthread_equal(owner_.load(std::memory_order_relaxed), pthread_self());
  }

  // In a fork's child only, where no other thread runs: a lock held by a
  // thread that does not exist there is made free again. The thread that
  // forked keeps a lock it holds, and releases it as it would have.
  void ResetInChild() {
    if (HeldByThisThread()) return;
    held_.store(false, std::memory_order_relaxed);
    std::construct_at(&mutex_);
  }

 private:
  std::mutex mutex_;
  std::atomic<pthread_t> owner_{};
  std::atomic<bool> held_{false};
};

}  // namespace lumirex
