// The HTTP client's handles, one per exchange in flight, and what they share.
// An exchange borrows a session (an easy handle with the multi handle that
// keeps its connections alive) for its whole length and gives it back. All of
// them join one share handle, so a name is resolved and a TLS session
// negotiated once for the process, not once per session.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <memory>

#include "support/idle_pool.hpp"
#include "support/runtime.hpp"

namespace lumirex {

// The share handle of DNS answers and TLS sessions, made on first use; null
// when libcurl cannot make one (each handle then keeps its own). Kept-alive
// connections stay in each session's own cache: this libcurl does not
// support sharing them between threads.
CURLSH* SharedCurlData() noexcept;

// Sessions lent one at a time to an exchange, kept by the pool rule of
// support/idle_pool.hpp: one idle for SpareIdleAge() is closed, even when no
// exchange comes. A part of the runtime: a fork's child has a pool of its
// own, and the parent's sessions (their connections are the parent's) are
// never used or closed there.
template <typename Session>
class CurlHandlePool final : public RuntimePart {
 public:
  static constexpr RuntimeSlot kSlot = RuntimeSlot::CurlHandles;
  // At most this many idle sessions are kept, each with its connections.
  static constexpr std::size_t kCap = 16;

  CurlHandlePool() : sessions_(CurrentRuntime().TheJanitor()) {}

  void Release() noexcept override { sessions_.CloseIdle(); }

  // A session for one exchange, given back when it goes.
  class Lease {
   public:
    Lease() : runtime_(&CurrentRuntime()) {
      CurlHandlePool& pool = runtime_->Get<CurlHandlePool>();
      session_ = pool.sessions_.Take();
      if (session_) return;
      try {
        session_ = std::make_unique<Session>();
      } catch (...) {
        pool.sessions_.Lost();
        throw;
      }
    }
    ~Lease() {
      if (runtime_->IsCurrent()) {
        runtime_->Get<CurlHandlePool>().sessions_.Give(std::move(session_), kCap);
      } else {
        // Begun before a fork, in the child: left as it is, like the rest of
        // the parent's runtime.
        (void)session_.release();
      }
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Session* operator->() const { return session_.get(); }

   private:
    Runtime* runtime_;
    std::unique_ptr<Session> session_;
  };

 private:
  IdlePool<Session> sessions_;
};

}  // namespace lumirex
