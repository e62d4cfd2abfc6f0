// How long to leave a service that does not answer before trying it again:
// the forwarder's wait between rounds that found it out of reach, and the
// offline path's wait between probes. Doubling from the first wait to the
// longest, each wait drawn from its upper half by chance and by a share fixed
// for this machine, so that the tills of a chain, which all lost the service
// at the same moment, do not all come back to it in the same second.
#pragma once

#include <chrono>

namespace lumirex {

struct BackoffBounds {
  std::chrono::milliseconds first{5'000};
  std::chrono::milliseconds longest{300'000};
};

// 5 s to 5 min; $LUMIREX_FORWARDING_BACKOFF_MS ("first,longest" in
// milliseconds) shortens them for a drill or a test. Read once.
BackoffBounds Backoff() noexcept;

// The wait after `failures` failures in a row (0: the first).
std::chrono::milliseconds BackoffDelay(int failures) noexcept;

}  // namespace lumirex
