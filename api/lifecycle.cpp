// The package's load and unload entries.
#include "integration/call_gate.hpp"
#include "integration/forwarder.hpp"
#include "lumirex/lumirex.h"
#include "support/no_cancellation.hpp"
#include "support/runtime.hpp"

extern "C" {

// Nothing to prepare: the runtime is built by the first call that needs it.
void Initialize(void) {}

// Releases what the runtime keeps between calls (the forwarder's thread, the
// data modules, closing their connections, and the idle HTTP handles); the
// next call builds fresh ones. Stops new calls from starting and waits for those in flight on other
// threads to end (each within its time-out), then closes outside the gate's
// lock, so a call waiting meanwhile still says "busy" at its own time-out.
// From inside a call on this thread (a service the host installed, say) the
// instances are in use and stay.
void Finalize(void) {
  const lumirex::NoCancellation noCancellation;
  try {
    // First, so that no resend of its starts while the calls are waited for.
    lumirex::StopForwarding();
    lumirex::WithNoCallInFlight([] { lumirex::CurrentRuntime().Release(); });
  } catch (...) {
    // Waiting failed: leave the instances for the process's end to release.
  }
}

}  // extern "C"
