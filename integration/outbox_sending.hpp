// Sending the reports the outbox keeps, each exactly as built, to the
// service it was made for.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "integration/service_health.hpp"

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

// What one round of sending came to.
struct SendingRound {
  std::int32_t answered = 0;  // reports that got a verdict
  bool unreachable = false;   // it stopped at a service it could not reach (or did not try)
  bool failed = false;        // a report failed otherwise, and waits
};

// A round of the forwarder's: every waiting report, until `stop` says so or a
// service cannot be reached; the outbox's own faults count as failures.
// Its failures are not the thread's last call. Never throws.
SendingRound SendRoundNow(Exchanger exchanger, const std::function<bool()>& stop) noexcept;

// How many reports wait (held ones included); -1 when the outbox is off or
// cannot be read.
std::int32_t CountKeptReports() noexcept;

}  // namespace lumirex
