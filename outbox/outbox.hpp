// The outbox: sale and cancellation reports that could not reach the service,
// kept in a SQLite file to be sent again later, each exactly as it was built,
// oldest first. A report whose service answered with a verdict (accepted or
// declined) stays in the file for the record but is never sent again.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outbox/sqlite_file.hpp"

namespace lumirex::outbox {

enum class State { Waiting, Accepted, Declined };

// "waiting", "accepted" or "declined".
const char* StateName(State state);

struct Report {
  std::int64_t id = 0;
  std::string operation;  // "VENDA" or "VENDA_CANC"
  std::string cpf, branch, till, sequence;
  std::string orderId;
  std::string url, method, body;  // the request, byte for byte
  std::string document;           // the request document as the log shows it
  std::string keptAt;             // local time, "yyyy-mm-ddThh:nn:ss"
  std::int64_t attempts = 0;
  std::int32_t lastError = 0;  // LUMIREX_E_* of the last attempt
  std::string lastMessage;
  State state = State::Waiting;
  std::string verdict;  // the service's message, once it answered
};

// What one attempt to send a report came to.
struct Attempt {
  bool verdict = false;  // the service answered: the report leaves the waiting line
  bool accepted = false;
  std::int32_t error = 0;  // without a verdict: why it did not get one (LUMIREX_E_*)
  std::string message;     // the verdict's message, or the failure's
};

class Outbox {
 public:
  // Opens the file, creating it and its table when missing. Writes are on
  // disk before they return (WAL, synchronous FULL). Raises OutboxError.
  explicit Outbox(const std::string& file);

  // Keeps a report that failed its first attempt (error, message). Raises
  // OutboxError when `limit` reports wait already; nothing kept is dropped.
  void Keep(const Report& report, std::int64_t limit);

  // Whether reports of this order wait: a later one must go behind them.
  bool HasWaiting(std::string_view orderId) { return WaitingError(orderId).has_value(); }
  // The code of the newest waiting report of this order; nullopt when none waits.
  std::optional<std::int32_t> WaitingError(std::string_view orderId);
  std::int64_t WaitingCount();
  // Every report, oldest first; the waiting ones, or all of them.
  std::vector<Report> List(bool waitingOnly);

  // Sends the oldest waiting report through `send` inside a write
  // transaction, so no other process sends it at the same time, and records
  // the attempt. A crash before the end leaves the report waiting. Returns
  // nullopt when nothing waits.
  std::optional<Attempt> SendOldest(const std::function<Attempt(const Report&)>& send);

  // Drops the waiting reports of an order; returns how many.
  std::int64_t Drop(std::string_view orderId);

 private:
  void RecordAttempt(const Report& report, const Attempt& attempt);

  SqliteFile file_;
};

}  // namespace lumirex::outbox
