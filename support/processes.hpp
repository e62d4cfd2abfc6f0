// This machine's processes and this one's user: the part that differs
// between Linux and Windows.
#pragma once

#include <cstdint>
#include <string>

namespace lumirex {

std::int64_t ThisProcessId() noexcept;

// When the process of `id` started, in the system's own units: with the id,
// it names one process, never a later one given the same id. 0 when it is
// gone or cannot be read.
std::int64_t ProcessStartTime(std::int64_t id) noexcept;

// This boot of this machine, as seen from this process's process namespace:
// process ids and SecondsSinceBoot compare only within one. Empty when it
// cannot be told.
std::string ThisBoot();

// Seconds since the machine started, suspended time included; a step of the
// wall clock does not move it.
std::int64_t SecondsSinceBoot() noexcept;

// Whether the process of `id`, which started at `start` (0: not known), is
// known to have ended on this boot (a host killed mid-call). False while it
// runs, and when this process may not tell (one of another user's that
// still runs).
bool ProcessEnded(std::int64_t id, std::int64_t start) noexcept;

// Who runs this process, as a name for a record of who did what.
std::string ThisUserName();

}  // namespace lumirex
