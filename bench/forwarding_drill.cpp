#include "forwarding_drill.hpp"

#include <sstream>

#include "drill/drill.hpp"

namespace lumirex::bench {

namespace {

using namespace std::chrono_literals;

constexpr int kTills = 4;
constexpr int kSales = 100;
constexpr int kOfflineReports = 100;
constexpr int kOfflineTargetMs = 50;

DrillPlan Plan() {
  DrillPlan plan;
  plan.tillProgram = LUMIREX_DRILL_TILL;
  plan.tills = kTills;
  plan.salesPerTill = kSales;
  plan.stopAfterAccepted = kTills * kSales / 4;
  plan.outage = 8s;
  return plan;
}

std::string FirstOrders(const DrillOutcome& drill) {
  std::ostringstream out;
  out.precision(2);
  out << std::fixed;
  const char* separator = "";
  for (const auto& [till, seconds] : drill.FirstAfterRestart()) {
    out << separator << seconds << " s";
    separator = ", ";
  }
  return out.str();
}

void DrillRows(std::ostringstream& out) {
  const DrillPlan plan = Plan();
  const DrillOutcome drill = RunDrill(plan);
  if (!drill.problem.empty()) {
    out << "| the drill | not measured: " << drill.problem << " | |\n";
    return;
  }
  const int sales = kTills * kSales;
  const int recorded = static_cast<int>(drill.recordedOrders.size());
  const bool exact = drill.recordedOrders == drill.expectedOrders &&
                     drill.Refused() == drill.Count(false, true) &&
                     drill.RefusedOrders() == drill.ToldRepeats() && drill.Sum("waiting") == 0 &&
                     drill.Sum("lost") == 0;
  const double bound =
      std::chrono::duration<double>(plan.longestBackoff).count() + drill.SendingTime();
  out << "| sales made, recorded by the service | " << sales << ", " << recorded
      << " | each exactly once: " << (exact ? "met" : "**missed**") << " |\n"
      << "| reports kept (answers cut short, the outage); resends refused as repeats | "
      << static_cast<int>(drill.Sum("kept")) << "; " << drill.Count(false, true) << " | |\n"
      << "| outboxes drained after the service came back | " << drill.Drain()
      << " s | longest back-off + sending time (" << bound
      << " s): " << (drill.Drain() <= bound ? "met" : "**missed**") << " |\n"
      << "| peak orders in one second, first 5 s after it came back | " << drill.PeakPerSecond()
      << " | |\n"
      << "| first order of each till after it came back | " << FirstOrders(drill) << " | |\n";
}

void OfflineRows(std::ostringstream& out) {
  const OfflineTimes times = RunOfflinePath(LUMIREX_DRILL_TILL, kOfflineReports);
  if (!times.problem.empty()) {
    out << "| the fast offline path | not measured: " << times.problem << " | |\n";
    return;
  }
  out << "| silent service: the first report (waits out the time-out) | " << times.firstMs
      << " ms | |\n"
      << "| silent service: the next " << kOfflineReports << " reports, median; longest | "
      << times.medianMs << " ms; " << times.maxMs << " ms | each under " << kOfflineTargetMs
      << " ms: " << (times.maxMs < kOfflineTargetMs ? "met" : "**missed**") << " |\n";
}

}  // namespace

std::string ForwardingDrillMarkdown() {
  std::ostringstream out;
  out.precision(1);
  out << std::fixed << "### Forwarding after an outage\n\n"
      << kTills << " till processes (`drill_till`), each reporting " << kSales
      << " sales one after the other with the outbox and forwarding on "
         "(`LUMIREX_FORWARDING_BACKOFF_MS=500,4000`); the sandbox cuts a tenth of its "
         "answers short after recording the sale, stops once it has "
         "accepted a quarter of them, stays down 8 s (longer if a till is still selling) "
         "and comes back on its port. Then one till against a sandbox that never "
         "answers (`stall`), with the default back-off.\n\n"
      << "| measure | figure | target |\n| --- | --- | --- |\n";
  DrillRows(out);
  OfflineRows(out);
  out << "\n";
  return out.str();
}

}  // namespace lumirex::bench
