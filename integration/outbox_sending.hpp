// Sending the reports the outbox keeps, oldest first, each exactly as built.
#pragma once

#include <cstdint>

namespace lumirex {

// Sends up to maxReports (all when below 1) and records the outcome as the
// calling thread's last call. Returns how many got a verdict, or -1 when the
// outbox is off or cannot be used. Never throws.
std::int32_t SendKeptReports(std::int32_t maxReports) noexcept;

// How many reports wait; -1 when the outbox is off or cannot be read.
std::int32_t CountKeptReports() noexcept;

}  // namespace lumirex
