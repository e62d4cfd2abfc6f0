// `lumirex outbox list|send|drop`: the sale and cancellation reports kept
// while the service could not be reached.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace lumirex::cli {

// Exit statuses of `outbox send`: nothing waits any more, reports still wait,
// the outbox could not be read.
constexpr int kExitOutboxEmpty = 0;
constexpr int kExitOutboxWaiting = 1;
constexpr int kExitOutboxUnreadable = 2;

// Every report, oldest first, as words or JSON. Returns 0, or 2 when the file
// cannot be read.
int ListOutbox(const std::string& file, bool json, std::ostream& out);

// Sends up to max reports (all when max < 1) through the library.
int SendOutbox(const std::string& file, std::int32_t max, std::ostream& out, std::ostream& err);

// Drops the waiting reports of an order; refuses without `confirmed`.
int DropFromOutbox(const std::string& file, const std::string& orderId, bool confirmed,
                   std::ostream& out);

}  // namespace lumirex::cli
