// The allocation-failure sweep: one warm call of each operation, run again
// with its Nth allocation failing, then with every allocation from the Nth on
// failing. Whatever fails, the call must not crash, hang or leak (the ASan
// build checks the leaks), and it either returns false with the caller's
// array untouched and a message for the till and the operator, or true with
// the whole result.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "allocation_faults.hpp"
#include "integration/end_to_end.hpp"
#include "lumirex/lumirex.h"

namespace calltest {
namespace {

// Calls whose allocations number more than this are sampled: every N up to
// kEvery, then kSpread more evenly spaced N up to the last, which is always run.
constexpr long kEvery = 300;
constexpr long kSpread = 200;

std::vector<long> SampledTargets(long total) {
  std::vector<long> targets;
  for (long n = 1; n <= total && n <= kEvery; ++n) targets.push_back(n);
  if (total <= kEvery) return targets;
  const long step = (total - kEvery + kSpread - 1) / kSpread;
  for (long n = kEvery + step; n < total; n += step) targets.push_back(n);
  targets.push_back(total);
  return targets;
}

// The operator message of the last failed call, kept without allocating.
char operatorMessage[512];
void KeepOperatorMessage(const char* text, void*) {
  std::snprintf(operatorMessage, sizeof operatorMessage, "%s", text);
}

class AllocationSweep : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    // The default services: the recording ones allocate in their message handler.
    lumirex::InstallServices(nullptr);
    LumirexSetMessageHandler(&KeepOperatorMessage, nullptr);
  }
  void TearDown() override {
    LumirexSetMessageHandler(nullptr, nullptr);
    EndToEnd::TearDown();
  }

  std::vector<std::string> LastLines(std::size_t count) const {
    const std::vector<std::string> lines = LogTexts();
    return {lines.end() - static_cast<long>(std::min(count, lines.size())), lines.end()};
  }

  // The caller's array is built, and the outcome read, with the fault disarmed.
  bool CallArmed(const CArray& list, CArray& result, allocfault::Mode mode, long target,
                 long* counted = nullptr) {
    for (int32_t i = 0; i < result.size(); ++i) result.SetText(i, "caller's " + std::to_string(i));
    operatorMessage[0] = '\0';
    allocfault::Arm(mode, target);
    const bool returned = CallThroughC(list, result);
    const long made = allocfault::Disarm();
    if (counted != nullptr) *counted = made;
    return returned;
  }

  // Sweeps one operation; returns the runs made and the allocations its warm call makes.
  // `settle` runs before the last call, with the faults off.
  void Sweep(const std::vector<std::string>& params, const std::function<void()>& settle = {}) {
    SCOPED_TRACE(params[0]);
    const CArray list(params);
    CArray result(5);
    ASSERT_TRUE(CallArmed(list, result, allocfault::Mode::Off, 0)) << LogTexts().back();
    long total = 0;
    ASSERT_TRUE(CallArmed(list, result, allocfault::Mode::Count, 0, &total)) << LogTexts().back();
    const lumirex::Variant whole = result.Value();
    const lumirex::Variant untouched = CallersResult(5);
    const std::vector<long> targets = SampledTargets(total);
    long failed = 0;
    for (const auto mode : {allocfault::Mode::FailOne, allocfault::Mode::FailFrom}) {
      for (const long n : targets) {
        SCOPED_TRACE((mode == allocfault::Mode::FailOne ? "allocation " : "allocations from ") +
                     std::to_string(n) + " of " + std::to_string(total));
        const bool returned = CallArmed(list, result, mode, n);
        LumirexCallOutcome outcome{};
        char message[512];
        LumirexLastCall(&outcome, message, sizeof message);
        if (returned) {
          EXPECT_EQ(result.Value(), whole) << ::testing::PrintToString(LastLines(4));
          EXPECT_EQ(outcome.error, LUMIREX_OK);
          continue;
        }
        ++failed;
        EXPECT_EQ(result.Value(), untouched);
        EXPECT_NE(outcome.error, LUMIREX_OK);
        EXPECT_STRNE(message, "");
        EXPECT_STRNE(operatorMessage, "");
        if (::testing::Test::HasFailure()) return;
      }
    }
    // Nothing the faults left behind stops the next call.
    if (settle) settle();
    EXPECT_TRUE(CallArmed(list, result, allocfault::Mode::Off, 0)) << LogTexts().back();
    std::cout << params[0] << ": " << total << " allocations"
              << (allocfault::CountsMalloc() ? "" : " (operator new only)") << ", "
              << targets.size() << " targets, " << 2 * targets.size() << " runs, " << failed
              << " returned false" << std::endl;
  }
};

// A customer whose promocodes all carry their expiry: one without takes the
// time of reading, and the whole result would differ from run to run.
TEST_F(AllocationSweep, Consulta) {
  Sweep(Consulta("98765432100"));
}

TEST_F(AllocationSweep, ValidaPromocode) {
  Sweep(Validation());
}

TEST_F(AllocationSweep, Venda) {
  Sweep(Sale("VENDA"));
}

TEST_F(AllocationSweep, VendaCanc) {
  Sweep(Sale("VENDA_CANC"));
}

// With the outbox and forwarding on: a fault may leave the report waiting,
// and the forwarder then sends it, under the same faults, beside the calls.
TEST_F(AllocationSweep, VendaForwarded) {
  setenv("LUMIREX_FORWARDING_BACKOFF_MS", "50,200", 1);
  ASSERT_EQ(LumirexSetOutbox((base_.path() / "outbox.sqlite").c_str()), 0);
  LumirexSetForwarding(1);
  // A report whose failure could not be recorded stays claimed by this
  // process until its claim runs out, and the order's next report waits
  // behind it: the last call goes without the outbox.
  Sweep(Sale("VENDA"), [] { LumirexSetOutbox(nullptr); });
  LumirexSetForwarding(0);
  Finalize();
  LumirexSetOutbox(nullptr);
}

}  // namespace
}  // namespace calltest
