// Which calls may run now. Calls run side by side up to a bound, start in the
// order they arrived, and two calls about one order never overlap. Finalize
// waits here for the calls in flight, and calls made meanwhile wait for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "integration/exchange.hpp"
#include "support/runtime.hpp"

namespace lumirex {

using Deadline = std::chrono::steady_clock::time_point;

inline constexpr int kDefaultMaxCalls = 8;

// How long a report waits for the earlier calls about its order, each of
// which ends within its own time-out.
inline constexpr std::chrono::seconds kOrderWait(2 * kCallTimeout);

// How long Finalize waits for the calls in flight: the longest a call may
// take (its order's wait, its turn back, its exchange), with room to spare.
inline constexpr std::chrono::seconds kFinalizeWait(2 * (kOrderWait + 2 * kCallTimeout));

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

 private:
  Runtime* runtime_;
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

 private:
  Runtime* runtime_;
};

// The forwarder's turn: beside the calls' bound, so that no cashier's call
// waits for a resend; one at a time (the forwarder is one thread). It waits
// for a Finalize under way like any call, and Finalize waits for it. Throws
// CallFailure (LUMIREX_E_TIMEOUT) when `limit` passes first.
class ForwardingTurn {
 public:
  explicit ForwardingTurn(std::chrono::milliseconds limit);
  ~ForwardingTurn();
  ForwardingTurn(const ForwardingTurn&) = delete;
  ForwardingTurn& operator=(const ForwardingTurn&) = delete;

 private:
  Runtime* runtime_;
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
  // A call that holds its CallTurn gives it back while it waits, and takes
  // it again (before the calls not started yet) once its order's turn came.
  void Take(const std::string& orderId);

 private:
  Runtime* runtime_ = nullptr;
  std::string orderId_;
  std::uint64_t ticket_ = 0;
};

// What the gate holds now: the calls running, those waiting for their turn,
// the Finalize calls waiting for the calls in flight, and the calls in
// flight that gave their turn back while they wait for their order's.
struct GateNow {
  int running = 0, waiting = 0, finalizing = 0, parked = 0;
};
GateNow GateState() noexcept;

// Whether this thread holds a call's turn: what it would wait for (Finalize,
// sending the outbox) is its own.
bool TurnHeldByThisThread() noexcept;

// Stops admission: calls not started yet wait (and say "busy" at their
// time-out), and waits at most `limit` for the calls in flight to end; true
// when none is left. Every HoldAdmission is followed by one ResumeAdmission,
// whatever it returned. Never call it while holding a turn (it would wait for
// itself); TurnHeldByThisThread says.
bool HoldAdmission(std::chrono::milliseconds limit);
void ResumeAdmission() noexcept;

// Runs work once no call is in flight (waiting at most kFinalizeWait),
// holding back calls that arrive meanwhile, outside the gate's lock; returns
// false without running it on a thread that holds a turn, or when calls were
// still in flight at the end of the wait.
bool WithNoCallInFlight(const std::function<void()>& work);

}  // namespace lumirex
