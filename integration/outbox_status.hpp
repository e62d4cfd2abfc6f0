// What waits in the outbox, and whether the service answers: cheap enough
// for a till to ask after every call. The outbox's figures are read again
// only when its file changed (its own and its journal's time and size, or a
// write of this process), so asking costs two file stats, not an opening.
#pragma once

#include <cstdint>

#include "integration/service_health.hpp"

namespace lumirex {

struct OutboxStatusNow {
  std::int64_t waiting = 0, held = 0;
  std::int64_t oldestAge = 0;  // seconds; 0 when none waits
  ServiceWatch watch;
  bool forwarding = false;
};

// Fills `now`; false when the outbox is off or cannot be read (the service's
// figures are filled all the same).
bool ReadOutboxStatus(OutboxStatusNow& now) noexcept;

// This process wrote to the outbox: its figures are read again.
void NoteOutboxChanged() noexcept;

}  // namespace lumirex
