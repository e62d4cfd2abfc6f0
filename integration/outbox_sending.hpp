// Sending the reports the outbox keeps, each exactly as built, to the
// service it was made for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumirex {

// A base URL a call of this process used: when it holds a password, a
// report made with it is sent again with it (the outbox keeps none).
void RememberCredentials(const std::string& baseUrl);

// Sends up to maxReports (all when below 1), oldest first within each order,
// and records the outcome as the calling thread's last call: the last
// failure, if any. Each goes to `baseUrl` when one is given (support moving
// reports to the service's new address), else to the one it was made with
// (with the password a call of this process used with it): never to another
// service this process happened to talk to. Held reports
// stay aside. Returns how many got a verdict, or -1 when the outbox is off or
// cannot be used, or `baseUrl` is not an http:// or https:// URL. Never throws.
std::int32_t SendKeptReports(std::int32_t maxReports,
                             const std::optional<std::string>& baseUrl) noexcept;

// How many reports wait (held ones included); -1 when the outbox is off or
// cannot be read.
std::int32_t CountKeptReports() noexcept;

}  // namespace lumirex
