// Process-wide state that outlives a fork (settings and the like), with a
// std::mutex member named `mutex` held only briefly and never around another
// lock: built as the library loads, never destroyed (a call still running on another
// thread while the host exits reads it). fork() takes its lock in the prepare
// step, so the child inherits the state whole and the lock free.
#pragma once

#include <mutex>

#include "support/at_fork.hpp"
#include "support/no_destructor.hpp"

namespace lumirex {

template <typename State>
State& ProcessState();

template <typename State>
inline const BuiltAtLoad<&ProcessState<State>> processStateBuiltAtLoad;

template <typename State>
State& ProcessState() {
  (void)&processStateBuiltAtLoad<State>;
  static NoDestructor<State> instance;
  static const int forkHandler =
      AtFork(ForkOrder::State, {[] { instance->mutex.lock(); }, [] { instance->mutex.unlock(); },
                                [] { instance->mutex.unlock(); }});
  (void)forkHandler;
  return *instance;
}

}  // namespace lumirex
