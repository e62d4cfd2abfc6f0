// The HTTP client's handles, one per exchange in flight, and what they share.
// An exchange borrows a session (an easy handle with the multi handle that
// keeps its connections alive) for its whole length and gives it back; the
// sessions are never destroyed, as an exchange may still run on another
// thread while the host exits. All of them join one share handle, so a name
// is resolved and a TLS session negotiated once for the process, not once
// per session.
#pragma once

#include <curl/curl.h>
#include <pthread.h>

#include <memory>
#include <mutex>
#include <vector>

#include "support/at_fork.hpp"
#include "support/no_destructor.hpp"

namespace lumirex {

// The share handle of DNS answers and TLS sessions, made on first use; null
// when libcurl cannot make one (each handle then keeps its own). Kept-alive
// connections stay in each session's own cache: this libcurl does not
// support sharing them between threads.
CURLSH* SharedCurlData() noexcept;

// Sessions lent one at a time to an exchange. Session needs a default
// constructor and AfterForkInChild(), called in a fork's child for every
// session, which then may be lent again there.
template <typename Session>
class CurlHandlePool {
 public:
  static CurlHandlePool& Instance() {
    static NoDestructor<CurlHandlePool> pool;
    static const int forkHandler = AtForkInChild([] { pool->AfterForkInChild(); });
    (void)forkHandler;
    return *pool;
  }

  // A session for one exchange, given back when it goes.
  class Lease {
   public:
    Lease() : session_(Instance().Borrow()) {}
    ~Lease() { Instance().GiveBack(session_); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Session* operator->() const { return session_; }

   private:
    Session* session_;
  };

 private:
  friend class NoDestructor<CurlHandlePool>;
  CurlHandlePool() = default;

  Session* Borrow() {
    std::lock_guard lock(mutex_);
    if (idle_.empty()) {
      // Reserved first, so giving the session back never needs memory.
      idle_.reserve(all_.size() + 1);
      all_.push_back(std::make_unique<Session>());
      return all_.back().get();
    }
    Session* session = idle_.back();
    idle_.pop_back();
    return session;
  }

  void GiveBack(Session* session) noexcept {
    std::lock_guard lock(mutex_);
    idle_.push_back(session);
  }

  // The child has only the thread that forked: every session lets go of the
  // parent's connections; one another thread had borrowed stays lent, never
  // used there again, and one the forking thread holds is given back as usual.
  void AfterForkInChild() noexcept {
    std::construct_at(&mutex_);
    for (const auto& session : all_) session->AfterForkInChild();
  }

  std::mutex mutex_;
  std::vector<std::unique_ptr<Session>> all_;
  std::vector<Session*> idle_;  // most recently given back last
};

}  // namespace lumirex
