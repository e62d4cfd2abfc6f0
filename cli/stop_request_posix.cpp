#include <pthread.h>
#include <signal.h>

#include "cli/stop_request.hpp"

namespace lumirex::cli {

namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

// SIGINT and SIGTERM blocked on this thread before the server starts its own,
// so they all inherit the mask and the signal is taken by sigwait.
StopRequest::StopRequest() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void StopRequest::Wait() {
  const sigset_t signals = StopSignals();
  int received = 0;
  sigwait(&signals, &received);
}

}  // namespace lumirex::cli
