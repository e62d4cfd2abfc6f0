// The process's end with calls in flight. A host may end its process (exit(),
// a return from main, a static destructor of its own that joins its threads,
// Finalize then exit) while calls run on other threads. At exit the C++
// statics of every library in the process are destroyed, in the reverse
// order of their building, while those calls may still read them: the
// database library's SQLite backend builds a table of its own at the first
// statement it runs. So the first call builds what a call builds of them, and
// only then registers with atexit the wait below, which therefore runs before
// any of them is destroyed: from then on no call starts, and the calls in
// flight end (each within its time-out) before the process goes on ending.
#pragma once

#include <chrono>

namespace lumirex::process_exit {

// How long the end of the process waits for the calls in flight: a call
// ends within its time-out, the earlier calls about its order included.
inline constexpr std::chrono::seconds kExitWait(30);

// Why a call made while the process ends returns false: LUMIREX_E_STATE.
inline constexpr const char* kRefused =
    "the process is ending: the call was refused, and nothing was sent";

// A call counted from its start to its end, so that the end of the process
// waits for it; not admitted once that end has begun. The first one readies
// the wait.
class CallInFlight {
 public:
  CallInFlight() noexcept;
  ~CallInFlight();
  CallInFlight(const CallInFlight&) = delete;
  CallInFlight& operator=(const CallInFlight&) = delete;

  bool admitted() const { return admitted_; }

 private:
  bool admitted_ = false;
};

// Whether the end has begun: a call admitted before it that has only now got
// its turn stops there, before anything of it is kept or sent.
bool Ending() noexcept;

// The wait: admits no call from now on and waits, at most `limit`, for the
// calls in flight on other threads. The exit handler calls it; a runtime that
// ends otherwise may call it itself.
void StopAndWait(std::chrono::milliseconds limit) noexcept;

}  // namespace lumirex::process_exit
