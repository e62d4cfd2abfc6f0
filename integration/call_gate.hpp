// Which calls may run now. Calls run side by side up to a bound, start in the
// order they arrived, and two calls about one order never overlap. Finalize
// waits here for the calls in flight, and calls made meanwhile wait for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "integration/exchange.hpp"

namespace lumirex {

using Deadline = std::chrono::steady_clock::time_point;

inline constexpr int kDefaultMaxCalls = 8;

// How long a report waits for the earlier calls about its order, each of
// which ends within its own time-out.
inline constexpr std::chrono::seconds kOrderWait(2 * kCallTimeout);

// How many calls may run at once; false (and the bound stays) below 1. A
// lower bound lets the calls in flight finish; only new ones wait for it.
bool SetCallBound(int count) noexcept;
int CallBound() noexcept;

// A call's turn: taken in arrival order once fewer than CallBound() calls run
// and no Finalize is under way. Throws CallFailure (LUMIREX_E_TIMEOUT),
// saying the library was busy, when `limit` passes first.
class CallTurn {
 public:
  explicit CallTurn(std::chrono::milliseconds limit);
  ~CallTurn();
  CallTurn(const CallTurn&) = delete;
  CallTurn& operator=(const CallTurn&) = delete;
};

// The turn of a sale or cancellation report whose call could not get a
// CallTurn: it only reads the database and keeps the report in the outbox,
// so it does not wait for the bound; it waits for a Finalize under way like
// any call, and Finalize waits for it. Throws CallFailure (LUMIREX_E_TIMEOUT)
// when `limit` passes first.
class KeepingTurn {
 public:
  explicit KeepingTurn(std::chrono::milliseconds limit);
  ~KeepingTurn();
  KeepingTurn(const KeepingTurn&) = delete;
  KeepingTurn& operator=(const KeepingTurn&) = delete;
};

// The turn of one order: the reports of an order (a sale, its cancellation,
// a resend) are sent one at a time, in the order they asked. Empty until
// Take; released when it goes.
class OrderTurn {
 public:
  OrderTurn() = default;
  ~OrderTurn();
  OrderTurn(const OrderTurn&) = delete;
  OrderTurn& operator=(const OrderTurn&) = delete;

  // Waits for the reports of orderId that asked before, at most kOrderWait;
  // throws CallFailure (LUMIREX_E_TIMEOUT), saying the library was busy
  // with that order, when they take longer. An empty orderId never waits.
  void Take(const std::string& orderId);

 private:
  std::string orderId_;
  std::uint64_t ticket_ = 0;
};

// What the gate holds now: the calls running, those waiting for their turn,
// and the Finalize calls waiting for the calls in flight.
struct GateNow {
  int running = 0, waiting = 0, finalizing = 0;
};
GateNow GateState() noexcept;

// Whether this thread holds a call's turn: what it would wait for (Finalize,
// sending the outbox) is its own.
bool TurnHeldByThisThread() noexcept;

// Runs work once no call is in flight, holding back calls that arrive
// meanwhile; returns false without running it on a thread that holds a turn.
bool WithNoCallInFlight(const std::function<void()>& work);

}  // namespace lumirex
