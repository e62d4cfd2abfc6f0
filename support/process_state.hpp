// Process-wide state with a ForkSafeMutex member named `mutex`: built on first
// use, never destroyed (a call still running on another thread while the host
// exits reads it), and with its lock usable again in a fork's child.
#pragma once

#include "support/at_fork.hpp"
#include "support/fork_safe_mutex.hpp"
#include "support/no_destructor.hpp"

namespace lumirex {

template <typename State>
State& ProcessState() {
  static NoDestructor<State> instance;
  static const int forkHandler = AtForkInChild([] { instance->mutex.ResetInChild(); });
  (void)forkHandler;
  return *instance;
}

}  // namespace lumirex
