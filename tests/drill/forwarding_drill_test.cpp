// The forwarding drill: till processes sell with forwarding on while the
// service cuts a few answers short, then stops for several seconds and comes
// back on its port. Every sale
// must reach it exactly once, none may be lost, and the tills' outboxes must
// drain within the longest back-off plus the time the reports take to send.
// The drain time and the peak rate after the restart are printed, not checked.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "drill/drill.hpp"

namespace {

using namespace std::chrono_literals;

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

TEST(ForwardingDrill, EverySaleReachesTheServiceOnceAfterAnOutage) {
  lumirex::bench::DrillPlan plan;
  plan.tillProgram = LUMIREX_DRILL_TILL;
  plan.tills = 3;
  plan.salesPerTill = 40;
  plan.stopAfterAccepted = 30;
  plan.outage = 5s;
  plan.firstBackoff = 500ms;
  plan.longestBackoff = 4s;
  plan.cutAnswers = 0.1;
  const lumirex::bench::DrillOutcome drill = lumirex::bench::RunDrill(plan);
  ASSERT_EQ(drill.problem, "");

  for (const auto& till : drill.tills) {
    SCOPED_TRACE("till " + till.code);
    EXPECT_EQ(till.ended, "exit 0");
    // Each call had its sale accepted or kept it; none was refused.
    EXPECT_EQ(till.Said("accepted") + till.Said("kept"), plan.salesPerTill);
    EXPECT_EQ(till.Said("lost"), 0);
    EXPECT_EQ(till.Said("declined"), 0);
    // Each kept report ended accepted, or refused as one the service had.
    EXPECT_EQ(till.Said("kept_accepted") + till.Said("kept_repeats"), till.Said("kept"));
    EXPECT_EQ(till.Said("drained"), 1);
    EXPECT_EQ(till.Said("waiting"), 0);
  }
  EXPECT_GT(drill.Sum("kept"), 0) << "the outage kept no report: the drill tested nothing";
  // Exactly once: the service recorded every sale, and every refusal it
  // gave was of an order it had, which the till was told was a repeat.
  EXPECT_EQ(drill.recordedOrders, drill.expectedOrders);
  for (const auto& refused : drill.arrivals) {
    if (refused.accepted || refused.repeat) continue;
    std::ostringstream seen;
    for (const auto& arrival : drill.arrivals) {
      if (arrival.orderId != refused.orderId) continue;
      seen << "\n  " << Seconds(arrival.at - drill.stopped)
           << " s after the stop: " << arrival.message;
    }
    ADD_FAILURE() << refused.orderId << " refused, not as a repeat; it came" << seen.str();
  }
  // Answers cut short: those sales came again, and their tills were told
  // the refusal was of a possible repeat.
  EXPECT_FALSE(drill.RefusedOrders().empty());
  EXPECT_EQ(drill.RefusedOrders(), drill.ToldRepeats());

  // The sending time at the pace of before the outage, tripled, for a loaded machine.
  const double bound = Seconds(plan.longestBackoff) + 3 * drill.SendingTime() + 2;
  EXPECT_LE(drill.Drain(), bound);
  std::cout << "drill: " << drill.Sum("kept") << " reports kept, drained " << drill.Drain()
            << " s after the service came back (bound " << bound << " s); peak "
            << drill.PeakPerSecond() << " orders in one second;";
  for (const auto& [till, seconds] : drill.FirstAfterRestart()) {
    std::cout << " till " << till << " back after " << seconds << " s;";
  }
  std::cout << "\n";
}

}  // namespace
