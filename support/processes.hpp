// This machine's processes and this one's user: the part that differs
// between Linux and Windows.
#pragma once

#include <cstdint>
#include <string>

namespace lumirex {

std::int64_t ThisProcessId() noexcept;

// Whether the process of `id` is known to have ended (a host killed
// mid-call). False while it runs, and when this process may not tell (one of
// another user's that still runs).
bool ProcessEnded(std::int64_t id) noexcept;

// Who runs this process, as a name for a record of who did what.
std::string ThisUserName();

}  // namespace lumirex
