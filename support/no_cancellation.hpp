// Holds off pthread_cancel while an exported function runs. A thread the host
// cancels inside a call would otherwise unwind from a cancellation point deep
// in the call (a poll on the service's socket, a wait for a turn, a write to
// the log) through code that may not throw, and abort the host; and a call
// cut short there would leave its turn taken, its order held and its log
// block unwritten. Held off, the call runs to its end (within its time-out),
// gives everything back, and the thread is cancelled at the next
// cancellation point after the function returns, in the host's own code.
// Windows has no such cancellation: nothing to hold off there.
#pragma once

#ifndef _WIN32
#include <pthread.h>
#endif

namespace lumirex {

class NoCancellation {
 public:
  NoCancellation() noexcept {
#ifndef _WIN32
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &before_);
#endif
  }
  ~NoCancellation() {
#ifndef _WIN32
    pthread_setcancelstate(before_, nullptr);
#endif
  }
  NoCancellation(const NoCancellation&) = delete;
  NoCancellation& operator=(const NoCancellation&) = delete;

 private:
  int before_ = 0;
};

}  // namespace lumirex
