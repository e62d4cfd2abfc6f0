#include "integration/call_gate.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "integration/call_outcome.hpp"
#include "support/runtime.hpp"

namespace lumirex {

namespace {

// Each wait has its own signal: calls waiting to start, Finalize waiting for
// the calls in flight, reports waiting for their order. The lock is never
// held across anything slow: Finalize's closing happens outside it, so a
// call waiting meanwhile still says "busy" at its own time-out.
struct Gate final : RuntimePart {
  static constexpr RuntimeSlot kSlot = RuntimeSlot::Gate;

  std::mutex mutex;
  std::condition_variable mayStart;    // for CallTurn and a report back from its order's wait
  std::condition_variable allEnded;    // for HoldAdmission
  std::condition_variable orderMoved;  // for OrderTurn
  int running = 0;
  int parked = 0;      // calls in flight that gave their turn back while waiting for their order
  int forwarding = 0;  // the forwarder's resend, beside the bound
  int finalizing = 0;
  std::uint64_t nextTicket = 1;
  std::set<std::uint64_t> waiting;  // calls not started yet, oldest first
  // Per order, the tickets of the reports that asked for it; the first holds it.
  std::map<std::string, std::deque<std::uint64_t>> orders;
};

std::atomic<int> maxCalls{kDefaultMaxCalls};

// The gate whose turn this thread holds, if any: what it would wait for
// (Finalize, sending the outbox) is its own.
thread_local Gate* turnHeldIn = nullptr;
// The turn held is the forwarder's, which an order's wait does not park.
thread_local bool forwardingHeld = false;

Gate& TheGate() {
  return CurrentRuntime().Get<Gate>();
}

std::string BusyText(const Gate& gate, std::chrono::milliseconds limit) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
  std::string text =
      "the library was busy: the call could not start within " + std::to_string(seconds) + " s";
  if (gate.finalizing > 0) return text + ", while Finalize waited for the calls in flight";
  return text + ", with " + std::to_string(gate.running) + " calls in flight (at most " +
         std::to_string(CallBound()) + " at once); nothing was sent";
}

// A turn given back: by CallTurn or KeepingTurn (`running`), or by
// ForwardingTurn (`forwarding`).
void GiveTurnBack(Runtime* runtime, int Gate::*held = &Gate::running) noexcept {
  turnHeldIn = nullptr;
  forwardingHeld = false;
  // Begun before a fork, in the child: the parent's gate is left alone.
  if (!runtime->IsCurrent()) return;
  Gate& gate = runtime->Get<Gate>();
  {
    std::lock_guard lock(gate.mutex);
    --(gate.*held);
  }
  gate.mayStart.notify_all();
  gate.allEnded.notify_all();
}

// The wait of a turn beside the bound: only for a Finalize under way. The
// gate's lock is held when it returns.
std::unique_lock<std::mutex> NoFinalizeUnderWay(Gate& gate, std::chrono::milliseconds limit) {
  const Deadline deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock lock(gate.mutex);
  if (!gate.mayStart.wait_until(lock, deadline, [&] { return gate.finalizing == 0; })) {
    throw CallFailure(LUMIREX_E_TIMEOUT, BusyText(gate, limit));
  }
  return lock;
}

}  // namespace

bool SetCallBound(int count) noexcept {
  if (count < 1) return false;
  maxCalls.store(count);
  Gate& gate = TheGate();
  {
    // Taken so that no waiter misses the signal between its test and its wait.
    std::lock_guard lock(gate.mutex);
  }
  gate.mayStart.notify_all();
  return true;
}

int CallBound() noexcept {
  return maxCalls.load();
}

CallTurn::CallTurn(std::chrono::milliseconds limit) : runtime_(&CurrentRuntime()) {
  const Deadline deadline = std::chrono::steady_clock::now() + limit;
  Gate& gate = runtime_->Get<Gate>();
  std::unique_lock lock(gate.mutex);
  const std::uint64_t ticket = gate.nextTicket++;
  gate.waiting.insert(ticket);
  const bool started = gate.mayStart.wait_until(lock, deadline, [&] {
    return gate.finalizing == 0 && gate.running < CallBound() && *gate.waiting.begin() == ticket;
  });
  gate.waiting.erase(ticket);
  if (!started) {
    // The next in line may be free to start now that this one left the line.
    gate.mayStart.notify_all();
    throw CallFailure(LUMIREX_E_TIMEOUT, BusyText(gate, limit));
  }
  ++gate.running;
  turnHeldIn = &gate;
  // The next in line may start too, if the bound allows.
  gate.mayStart.notify_all();
}

CallTurn::~CallTurn() {
  GiveTurnBack(runtime_);
}

KeepingTurn::KeepingTurn(std::chrono::milliseconds limit) : runtime_(&CurrentRuntime()) {
  Gate& gate = runtime_->Get<Gate>();
  const std::unique_lock lock = NoFinalizeUnderWay(gate, limit);
  ++gate.running;
  turnHeldIn = &gate;
}

KeepingTurn::~KeepingTurn() {
  GiveTurnBack(runtime_);
}

ForwardingTurn::ForwardingTurn(std::chrono::milliseconds limit) : runtime_(&CurrentRuntime()) {
  Gate& gate = runtime_->Get<Gate>();
  const std::unique_lock lock = NoFinalizeUnderWay(gate, limit);
  ++gate.forwarding;
  turnHeldIn = &gate;
  forwardingHeld = true;
}

ForwardingTurn::~ForwardingTurn() {
  GiveTurnBack(runtime_, &Gate::forwarding);
}

void OrderTurn::Take(const std::string& orderId) {
  if (orderId.empty()) return;
  const Deadline deadline = std::chrono::steady_clock::now() + kOrderWait;
  // Everything that may run out of memory comes before the line changes, or
  // is undone: a ticket left in the line would hold its order up for good.
  orderId_ = orderId;
  runtime_ = &CurrentRuntime();
  Gate& gate = runtime_->Get<Gate>();
  std::unique_lock lock(gate.mutex);
  const std::uint64_t ticket = gate.nextTicket++;
  std::deque<std::uint64_t>* line = nullptr;
  try {
    line = &gate.orders[orderId];
    line->push_back(ticket);
  } catch (...) {
    if (line != nullptr && line->empty()) gate.orders.erase(orderId);
    throw;
  }
  if (line->front() == ticket) {
    ticket_ = ticket;
    return;
  }
  // Waiting for the order is no work: the call's turn goes to another call
  // meanwhile, and Finalize still counts this one as in flight.
  const bool parked = turnHeldIn == &gate && !forwardingHeld;
  if (parked) {
    --gate.running;
    ++gate.parked;
    gate.mayStart.notify_all();
  }
  bool turned = gate.orderMoved.wait_until(lock, deadline, [&] { return line->front() == ticket; });
  if (parked) {
    // Back in before the calls that have not started: this one started first.
    turned = gate.mayStart.wait_until(lock, deadline + kCallTimeout, [&] {
      return gate.running < CallBound();
    }) && turned;
    --gate.parked;
    ++gate.running;
  }
  if (turned) {
    ticket_ = ticket;
    return;
  }
  line->erase(std::find(line->begin(), line->end(), ticket));
  if (line->empty()) gate.orders.erase(orderId);
  lock.unlock();
  // The next in line may be free to go now.
  gate.orderMoved.notify_all();
  throw CallFailure(LUMIREX_E_TIMEOUT, "the library was busy: an earlier call about order " +
                                           orderId + " was still running after " +
                                           std::to_string(kOrderWait.count()) +
                                           " s; nothing was sent");
}

OrderTurn::~OrderTurn() {
  if (ticket_ == 0 || !runtime_->IsCurrent()) return;
  Gate& gate = runtime_->Get<Gate>();
  {
    std::lock_guard lock(gate.mutex);
    const auto found = gate.orders.find(orderId_);
    if (found != gate.orders.end()) {
      std::erase(found->second, ticket_);
      if (found->second.empty()) gate.orders.erase(found);
    }
  }
  gate.orderMoved.notify_all();
}

GateNow GateState() noexcept {
  Gate& gate = TheGate();
  std::lock_guard lock(gate.mutex);
  return {gate.running, static_cast<int>(gate.waiting.size()), gate.finalizing, gate.parked};
}

bool TurnHeldByThisThread() noexcept {
  return turnHeldIn != nullptr;
}

bool HoldAdmission(std::chrono::milliseconds limit) {
  Gate& gate = TheGate();
  std::unique_lock lock(gate.mutex);
  ++gate.finalizing;
  return gate.allEnded.wait_for(
      lock, limit, [&] { return gate.running == 0 && gate.parked == 0 && gate.forwarding == 0; });
}

void ResumeAdmission() noexcept {
  Gate& gate = TheGate();
  {
    std::lock_guard lock(gate.mutex);
    --gate.finalizing;
  }
  gate.mayStart.notify_all();
}

bool WithNoCallInFlight(const std::function<void()>& work) {
  if (turnHeldIn != nullptr) return false;
  struct Resume {
    ~Resume() { ResumeAdmission(); }
  };
  const bool idle = HoldAdmission(kFinalizeWait);
  const Resume resume;
  // The work (closing database sessions, say) runs outside the gate's lock.
  if (idle) work();
  return idle;
}

}  // namespace lumirex
