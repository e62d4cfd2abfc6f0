// The gate calls pass: at most the bound at once, in arrival order, a busy
// refusal at the deadline, Finalize between calls, one order at a time.
#include "integration/call_gate.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "integration/call_outcome.hpp"

using namespace std::chrono_literals;

namespace lumirex {
namespace {

constexpr auto kLong = std::chrono::milliseconds(10s);

class CallGateTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCallBound(kDefaultMaxCalls); }
};

TEST_F(CallGateTest, CallsStartInArrivalOrderWithinTheBound) {
  constexpr int kCallers = 6;
  // One at a time, so each records its start before the next may start.
  ASSERT_TRUE(SetCallBound(1));
  EXPECT_FALSE(SetCallBound(0));
  std::optional<CallTurn> first(std::in_place, kLong);
  std::mutex mutex;
  std::vector<int> started;
  std::atomic<int> inFlight{0}, most{0};
  std::vector<std::thread> callers;
  for (int i = 0; i < kCallers; ++i) {
    callers.emplace_back([&, i] {
      const CallTurn turn(kLong);
      most = std::max(most.load(), ++inFlight);
      {
        std::lock_guard lock(mutex);
        started.push_back(i);
      }
      std::this_thread::sleep_for(5ms);
      --inFlight;
    });
    // Each waits in the line before the next arrives.
    while (GateState().waiting < i + 1) std::this_thread::yield();
  }
  first.reset();
  for (auto& caller : callers) caller.join();
  EXPECT_THAT(started, ::testing::ElementsAre(0, 1, 2, 3, 4, 5));
  EXPECT_EQ(most.load(), 1);
}

TEST_F(CallGateTest, ACallThatCannotStartInTimeFailsAsBusyAndHoldsNobodyUp) {
  ASSERT_TRUE(SetCallBound(1));
  std::optional<CallTurn> running(std::in_place, kLong);
  std::thread([] {
    try {
      const CallTurn turn(50ms);
      ADD_FAILURE() << "started beside a call while the bound is 1";
    } catch (const CallFailure& failure) {
      EXPECT_EQ(failure.code(), LUMIREX_E_TIMEOUT);
      EXPECT_THAT(failure.what(), ::testing::HasSubstr("the library was busy"));
    }
  }).join();
  running.reset();
  // The one that gave up left the line: the next starts at once.
  std::thread([] { EXPECT_NO_THROW(CallTurn{50ms}); }).join();
}

TEST_F(CallGateTest, FinalizeWaitsForCallsInFlightAndCallsMadeMeanwhileWaitForIt) {
  std::atomic<bool> callEnded{false}, finalized{false}, laterSawFinalized{false};
  std::thread inFlight([&] {
    const CallTurn turn(kLong);
    // Ends once Finalize waits for it and a later call waits for Finalize.
    while (GateState().waiting < 1) std::this_thread::yield();
    callEnded = true;
  });
  while (GateState().running < 1) std::this_thread::yield();
  std::thread finalize([&] {
    EXPECT_TRUE(WithNoCallInFlight([&] {
      EXPECT_TRUE(callEnded.load());
      finalized = true;
    }));
  });
  while (GateState().finalizing < 1) std::this_thread::yield();
  std::thread later([&] {
    const CallTurn turn(kLong);
    laterSawFinalized = finalized.load();
  });
  inFlight.join();
  finalize.join();
  later.join();
  EXPECT_TRUE(laterSawFinalized.load());
  // From inside a call, Finalize would wait for itself: it does nothing.
  const CallTurn own(kLong);
  EXPECT_FALSE(WithNoCallInFlight([] { ADD_FAILURE() << "ran inside a call"; }));
}

TEST_F(CallGateTest, ACallSaysBusyWhileFinalizeIsStillClosing) {
  std::atomic<bool> refused{false};
  std::thread finalize([&] {
    EXPECT_TRUE(WithNoCallInFlight([&] {
      // Closing slow database sessions: it goes on until the call below
      // has given up, which it could not do if the gate were held meanwhile.
      const auto deadline = std::chrono::steady_clock::now() + kLong;
      while (!refused && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
      }
    }));
  });
  while (GateState().finalizing < 1) std::this_thread::yield();
  try {
    const CallTurn turn(50ms);
    ADD_FAILURE() << "started while Finalize ran";
  } catch (const CallFailure& failure) {
    EXPECT_EQ(failure.code(), LUMIREX_E_TIMEOUT);
    refused = true;
  }
  finalize.join();
  EXPECT_TRUE(refused.load());
}

TEST_F(CallGateTest, AReportWaitingForItsOrderLeavesItsTurnToOtherCalls) {
  ASSERT_TRUE(SetCallBound(2));
  std::optional<CallTurn> saleCall(std::in_place, kLong);
  std::optional<OrderTurn> sale(std::in_place);
  sale->Take("ORDER-1");
  std::atomic<bool> cancellationSent{false};
  std::thread cancellation([&] {
    const CallTurn turn(kLong);
    OrderTurn order;
    order.Take("ORDER-1");
    cancellationSent = true;
  });
  // Waiting for its order, the cancellation holds no turn: a third call
  // starts beside the sale although the bound is 2.
  const auto deadline = std::chrono::steady_clock::now() + kLong;
  while (GateState().parked < 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  {
    const CallTurn other(50ms);
    EXPECT_FALSE(cancellationSent.load());
  }
  sale.reset();
  saleCall.reset();
  cancellation.join();
  EXPECT_TRUE(cancellationSent.load());
}

TEST_F(CallGateTest, ReportsOfOneOrderTakeTurnsAndOtherOrdersPass) {
  std::optional<OrderTurn> sale(std::in_place);
  sale->Take("ORDER-1");
  std::atomic<bool> otherDone{false}, cancellationStarted{false};
  std::thread([&] {
    OrderTurn other;
    other.Take("ORDER-2");
    otherDone = true;
  }).join();
  EXPECT_TRUE(otherDone.load());
  std::thread cancellation([&] {
    OrderTurn turn;
    turn.Take("ORDER-1");
    cancellationStarted = true;
  });
  std::this_thread::sleep_for(50ms);
  // Not a race the test could lose: the sale's turn is held until reset below.
  EXPECT_FALSE(cancellationStarted.load());
  sale.reset();
  cancellation.join();
  EXPECT_TRUE(cancellationStarted.load());
}

}  // namespace
}  // namespace lumirex
