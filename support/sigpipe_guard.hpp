// Writing to a pipe or socket whose reader has gone raises SIGPIPE, whose
// default action kills the whole process: the host's, in our case. While a
// guard lives, SIGPIPE is blocked on the calling thread; when it ends, a
// SIGPIPE that the guarded writes raised is taken off the thread, and the
// thread's mask is put back. A SIGPIPE that was already pending is the
// host's and is left where it was.
#pragma once

#ifdef _WIN32

namespace lumirex {

// Windows has no SIGPIPE: a write to a broken pipe fails with an error.
class SigpipeGuard {
 public:
  SigpipeGuard() noexcept {}
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;
};

}  // namespace lumirex

#else

#include <signal.h>

namespace lumirex {

class SigpipeGuard {
 public:
  SigpipeGuard() noexcept;
  ~SigpipeGuard();
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t previousMask_;
  bool wasPending_ = false;
};

}  // namespace lumirex

#endif
