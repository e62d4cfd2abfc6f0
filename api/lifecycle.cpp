// The package's load and unload entries.
#include <mutex>

#include "integration/data_module.hpp"
#include "integration/integration_call.hpp"
#include "lumirex/lumirex.h"

extern "C" {

// Nothing to prepare: the data module is built by the first call that needs it.
void Initialize(void) {}

// Releases the data module, closing its connection; the next call builds a
// fresh one. Waits for a call in progress on another thread to end; from
// inside a call on this thread (a service the host installed, say) the
// instance is in use and stays.
void Finalize(void) {
  try {
    if (lumirex::CallMutex().HeldByThisThread()) return;
    std::lock_guard lock(lumirex::CallMutex());
    lumirex::rdmIntegraLumirex.reset();
  } catch (...) {
    // Locking failed: leave the instance for the process's end to release.
  }
}

}  // extern "C"
