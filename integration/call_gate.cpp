#include "integration/call_gate.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "integration/call_outcome.hpp"
#include "support/at_fork.hpp"
#include "support/no_destructor.hpp"

namespace lumirex {

namespace {

struct Gate {
  std::mutex mutex;
  // One signal for every change; few threads wait, and each looks whether
  // the change was its turn.
  std::condition_variable changed;
  int running = 0;
  int finalizing = 0;
  std::uint64_t nextTicket = 1;
  std::set<std::uint64_t> waiting;  // calls not started yet, oldest first
  // Per order, the tickets of the reports that asked for it; the first holds it.
  std::map<std::string, std::deque<std::uint64_t>> orders;
};

std::atomic<int> maxCalls{kDefaultMaxCalls};

// The turns this thread holds, so a fork's child keeps exactly those.
thread_local bool turnHeld = false;
thread_local std::set<std::uint64_t>* ownOrderTickets = nullptr;

std::set<std::uint64_t>& OwnOrderTickets() {
  thread_local std::set<std::uint64_t> tickets;
  ownOrderTickets = &tickets;
  return tickets;
}

// A fork's child has only the thread that forked: the calls of the other
// threads are gone with them, and so are their turns and their waits.
void ResetInChild(Gate& gate) {
  std::construct_at(&gate.mutex);
  std::construct_at(&gate.changed);
  gate.running = turnHeld ? 1 : 0;
  gate.finalizing = 0;
  gate.waiting.clear();
  for (auto it = gate.orders.begin(); it != gate.orders.end();) {
    std::erase_if(it->second, [](std::uint64_t ticket) {
      return ownOrderTickets == nullptr || !ownOrderTickets->contains(ticket);
    });
    it = it->second.empty() ? gate.orders.erase(it) : std::next(it);
  }
}

Gate& TheGate() {
  static NoDestructor<Gate> gate;
  static const int forkHandler = AtForkInChild([] { ResetInChild(*gate); });
  (void)forkHandler;
  return *gate;
}

std::string BusyText(const Gate& gate, std::chrono::milliseconds limit) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
  std::string text =
      "the library was busy: the call could not start within " + std::to_string(seconds) + " s";
  if (gate.finalizing > 0) return text + ", while Finalize waited for the calls in flight";
  return text + ", with " + std::to_string(gate.running) + " calls in flight (at most " +
         std::to_string(CallBound()) + " at once); nothing was sent";
}

void GiveTurnBack() noexcept {
  Gate& gate = TheGate();
  {
    std::lock_guard lock(gate.mutex);
    --gate.running;
    turnHeld = false;
  }
  gate.changed.notify_all();
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
  gate.changed.notify_all();
  return true;
}

int CallBound() noexcept {
  return maxCalls.load();
}

CallTurn::CallTurn(std::chrono::milliseconds limit) {
  const Deadline deadline = std::chrono::steady_clock::now() + limit;
  Gate& gate = TheGate();
  std::unique_lock lock(gate.mutex);
  const std::uint64_t ticket = gate.nextTicket++;
  gate.waiting.insert(ticket);
  const bool started = gate.changed.wait_until(lock, deadline, [&] {
    return gate.finalizing == 0 && gate.running < CallBound() && *gate.waiting.begin() == ticket;
  });
  gate.waiting.erase(ticket);
  if (!started) {
    // The next in line may be free to start now that this one left the line.
    gate.changed.notify_all();
    throw CallFailure(LUMIREX_E_TIMEOUT, BusyText(gate, limit));
  }
  ++gate.running;
  turnHeld = true;
  // The next in line may start too, if the bound allows.
  gate.changed.notify_all();
}

CallTurn::~CallTurn() {
  GiveTurnBack();
}

KeepingTurn::KeepingTurn(std::chrono::milliseconds limit) {
  const Deadline deadline = std::chrono::steady_clock::now() + limit;
  Gate& gate = TheGate();
  std::unique_lock lock(gate.mutex);
  if (!gate.changed.wait_until(lock, deadline, [&] { return gate.finalizing == 0; })) {
    throw CallFailure(LUMIREX_E_TIMEOUT, BusyText(gate, limit));
  }
  ++gate.running;
  turnHeld = true;
}

KeepingTurn::~KeepingTurn() {
  GiveTurnBack();
}

void OrderTurn::Take(const std::string& orderId) {
  if (orderId.empty()) return;
  const Deadline deadline = std::chrono::steady_clock::now() + kOrderWait;
  // Everything that may run out of memory comes before the line changes, or
  // is undone: a ticket left in the line would hold its order up for good.
  orderId_ = orderId;
  std::set<std::uint64_t>& own = OwnOrderTickets();
  Gate& gate = TheGate();
  std::unique_lock lock(gate.mutex);
  const std::uint64_t ticket = gate.nextTicket++;
  own.insert(ticket);
  std::deque<std::uint64_t>* line = nullptr;
  try {
    line = &gate.orders[orderId];
    line->push_back(ticket);
  } catch (...) {
    own.erase(ticket);
    if (line != nullptr && line->empty()) gate.orders.erase(orderId);
    throw;
  }
  if (gate.changed.wait_until(lock, deadline, [&] { return line->front() == ticket; })) {
    ticket_ = ticket;
    return;
  }
  own.erase(ticket);
  line->erase(std::find(line->begin(), line->end(), ticket));
  if (line->empty()) gate.orders.erase(orderId);
  lock.unlock();
  // The next in line may be free to go now.
  gate.changed.notify_all();
  throw CallFailure(LUMIREX_E_TIMEOUT, "the library was busy: an earlier call about order " +
                                           orderId + " was still running after " +
                                           std::to_string(kOrderWait.count()) +
                                           " s; nothing was sent");
}

OrderTurn::~OrderTurn() {
  if (ticket_ == 0) return;
  Gate& gate = TheGate();
  {
    std::lock_guard lock(gate.mutex);
    OwnOrderTickets().erase(ticket_);
    const auto found = gate.orders.find(orderId_);
    if (found != gate.orders.end()) {
      std::erase(found->second, ticket_);
      if (found->second.empty()) gate.orders.erase(found);
    }
  }
  gate.changed.notify_all();
}

GateNow GateState() noexcept {
  Gate& gate = TheGate();
  std::lock_guard lock(gate.mutex);
  return {gate.running, static_cast<int>(gate.waiting.size()), gate.finalizing};
}

bool TurnHeldByThisThread() noexcept {
  return turnHeld;
}

bool WithNoCallInFlight(const std::function<void()>& work) {
  if (turnHeld) return false;
  Gate& gate = TheGate();
  std::unique_lock lock(gate.mutex);
  ++gate.finalizing;
  // Each call in flight ends within its own time-out.
  gate.changed.wait(lock, [&] { return gate.running == 0; });
  try {
    work();
  } catch (...) {
    --gate.finalizing;
    gate.changed.notify_all();
    throw;
  }
  --gate.finalizing;
  gate.changed.notify_all();
  return true;
}

}  // namespace lumirex
