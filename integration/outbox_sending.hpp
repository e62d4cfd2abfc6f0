// Sending the reports the outbox keeps, each exactly as built, to the
// service the till uses now.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumirex {

// The base URL of the latest call in this process that got an answer:
// kept reports go there first, whatever URL they were made with.
void RememberServiceUrl(const std::string& baseUrl);

// Sends up to maxReports (all when below 1), oldest first within each order,
// and records the outcome as the calling thread's last call: the last
// failure, if any. Each goes to the base URL of this process's latest
// answered call, else to `baseUrl`, else to the one it was made with. Held
// reports stay aside. Returns how many got a verdict, or -1 when the outbox
// is off or cannot be used. Never throws.
std::int32_t SendKeptReports(std::int32_t maxReports,
                             const std::optional<std::string>& baseUrl) noexcept;

// How many reports wait (held ones included); -1 when the outbox is off or
// cannot be read.
std::int32_t CountKeptReports() noexcept;

}  // namespace lumirex
