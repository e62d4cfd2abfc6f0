// What fork() does to the library: one registration with the system, one
// table of handlers. A fork's child has only the thread that forked; a lock
// another thread held at that moment would never be released there. So the
// prepare step takes every lock the child will still use (in their order,
// outermost first), and the parent and the child release them; whatever else
// the parent's threads were doing is left behind with the parent's runtime
// (support/runtime.hpp), which the child never touches. Windows has no
// fork(): there the handlers are kept and never run.
#pragma once

namespace lumirex {

// When a handler's prepare step runs: locks held around others come first.
enum class ForkOrder {
  Outbox,    // the outbox's lock, held while it uses SQLite
  State,     // the locks of settings and other small process-wide state
  Runtime,   // building the runtime
  Database,  // database work in progress (database/fork_fence.hpp)
  Sqlite,    // SQLite's own static mutexes, innermost
};

struct ForkHandler {
  void (*prepare)() = nullptr;  // in the parent, before the fork
  void (*parent)() = nullptr;   // in the parent, after it
  void (*child)() = nullptr;    // in the child, before fork() returns there
};

// Adds a handler; prepare steps run by ForkOrder (then in the order added),
// the parent's and the child's in the reverse order. Registering the same
// handler twice runs it twice: call it once, from a function-local static.
// Returns 0, so it can initialise that static. Never waits for a fork in
// progress; a handler added during one runs from the next.
int AtFork(ForkOrder order, ForkHandler handler) noexcept;

// A fork's child waits for ever on a function-local static that another
// parent thread was still building at the fork. The process-wide state the
// child goes on using is therefore built as the library loads, before any
// thread can call it:  `BuiltAtLoad<&TheState> builtAtLoad;`  beside the
// accessor. (Windows has no fork; building early costs nothing there.)
template <auto Accessor>
struct BuiltAtLoad {
  BuiltAtLoad() noexcept {
    try {
      (void)Accessor();
    } catch (...) {
      // Out of memory this early: the first call builds it instead.
    }
  }
};

// Shorthand for a handler with a child step only.
inline int AtForkInChild(void (*child)()) noexcept {
  return AtFork(ForkOrder::State, {nullptr, nullptr, child});
}

}  // namespace lumirex
