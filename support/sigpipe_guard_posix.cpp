#include "support/sigpipe_guard.hpp"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace lumirex {

namespace {

sigset_t PipeSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

}  // namespace

SigpipeGuard::SigpipeGuard() noexcept {
  sigset_t pending;
  sigemptyset(&pending);
  wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  const sigset_t pipe = PipeSignal();
  pthread_sigmask(SIG_BLOCK, &pipe, &previousMask_);
}

SigpipeGuard::~SigpipeGuard() {
  const int savedErrno = errno;
  if (!wasPending_) {
    // Ordinary signals do not queue: one wait takes any number of them.
    const sigset_t pipe = PipeSignal();
    const timespec now{};
    int taken;
    do {
      taken = sigtimedwait(&pipe, nullptr, &now);
    } while (taken < 0 && errno == EINTR);
  }
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
  errno = savedErrno;
}

}  // namespace lumirex
