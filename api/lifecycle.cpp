// The package's load and unload entries.
#include "integration/call_gate.hpp"
#include "integration/data_module_pool.hpp"
#include "lumirex/lumirex.h"
#include "support/no_cancellation.hpp"

extern "C" {

// Nothing to prepare: the data module is built by the first call that needs it.
void Initialize(void) {}

// Releases the data modules, closing their connections; the next call builds
// a fresh one. Waits for the calls in flight on other threads to end (each
// within its time-out), and calls made meanwhile wait for it; from inside a
// call on this thread (a service the host installed, say) the instances are
// in use and stay.
void Finalize(void) {
  const lumirex::NoCancellation noCancellation;
  try {
    lumirex::WithNoCallInFlight([] { lumirex::ReleaseDataModules(); });
  } catch (...) {
    // Waiting failed: leave the instances for the process's end to release.
  }
}

}  // extern "C"
