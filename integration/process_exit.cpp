#include "integration/process_exit.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "database/connection.hpp"
#include "database/query.hpp"
#include "integration/forwarder.hpp"
#include "support/at_fork.hpp"
#include "support/no_destructor.hpp"

namespace lumirex::process_exit {

namespace {

struct State {
  std::mutex mutex;
  std::condition_variable callEnded;
  int inFlight = 0;
  bool ending = false;
  std::mutex readying;  // held while the first call readies the wait
};

std::atomic<bool> ready{false};

// The calls this thread has in flight: a host that ends the process from
// inside a call (from its message handler) does not wait for itself.
thread_local int ownCalls = 0;

State& TheState() {
  static NoDestructor<State> state;
  // A fork's child has only the thread that forked, and only its calls. A
  // fork waits for the first call's readying to end: the child would find
  // the database library's statics half built.
  static const int forkHandler =
      AtFork(ForkOrder::State, {[] { state->readying.lock(); }, [] { state->readying.unlock(); },
                                [] {
                                  std::construct_at(&state->mutex);
                                  std::construct_at(&state->callEnded);
                                  state->readying.unlock();
                                  state->inFlight = ownCalls;
                                }});
  (void)forkHandler;
  return *state;
}
const BuiltAtLoad<&TheState> stateBuiltAtLoad;

// What a call builds of the database library's statics: a SQLite session
// readied as a call's is, and a statement with a parameter run on it. One
// that cannot be built now is built by the call that needs it, as before.
void BuildDatabaseStatics() noexcept {
  try {
    TADOConnection connection;
    connection.ConnectionString = "sqlite3://db=:memory:";
    connection.AfterConnect = [](TADOConnection& sender) { PrepareReadOnlySession(sender); };
    TADOQuery query(connection, {"P"}, "SELECT :P", "SELECT :P", "SELECT :P");
    query.SetParameter("P", "1");
    query.Open();
  } catch (...) {
  }
}

// Windows ends the other threads before it unloads the library, so no call
// is in flight by the time the library's statics go: nothing to wait for.
#ifndef _WIN32
void WaitAtExit() {
  StopAndWait(kExitWait);
  // Its resend ended with the calls; it starts none now, and leaves before
  // the library's code may go (an unload).
  StopForwarding();
}
#endif

void Ready() noexcept {
  if (ready.load(std::memory_order_acquire)) return;
  State& state = TheState();
  std::lock_guard lock(state.readying);
  if (ready.load(std::memory_order_relaxed)) return;
  BuildDatabaseStatics();
#ifndef _WIN32
  std::atexit(WaitAtExit);
#endif
  ready.store(true, std::memory_order_release);
}

}  // namespace

CallInFlight::CallInFlight() noexcept {
  Ready();
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  if (state.ending) return;
  ++state.inFlight;
  ++ownCalls;
  admitted_ = true;
}

CallInFlight::~CallInFlight() {
  if (!admitted_) return;
  State& state = TheState();
  {
    std::lock_guard lock(state.mutex);
    --state.inFlight;
    --ownCalls;
  }
  state.callEnded.notify_all();
}

bool Ending() noexcept {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  return state.ending;
}

void StopAndWait(std::chrono::milliseconds limit) noexcept {
  State& state = TheState();
  std::unique_lock lock(state.mutex);
  state.ending = true;
  state.callEnded.wait_for(lock, limit, [&] { return state.inFlight <= ownCalls; });
}

}  // namespace lumirex::process_exit
