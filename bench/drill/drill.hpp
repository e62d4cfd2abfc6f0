// The forwarding drill: till processes (drill_till) report their sales to a
// sandbox in this process with the outbox and forwarding on; the service
// stops while they sell and comes back on the same port, and the drill
// gathers what each side saw. A test checks it, a benchmark row prints it.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace lumirex::bench {

struct DrillPlan {
  std::string tillProgram;  // the drill_till executable
  int tills = 3;
  int salesPerTill = 40;
  int stopAfterAccepted = 30;              // the service stops once it accepted this many sales
  std::chrono::milliseconds outage{5000};  // at least; longer until every till has sold
  // The share of answers cut short before the outage, after the service
  // recorded the sale: their reports are kept and resent, and refused as
  // repeats.
  double cutAnswers = 0.1;
  // The tills' back-off ($LUMIREX_FORWARDING_BACKOFF_MS): short, for a drill.
  std::chrono::milliseconds firstBackoff{500};
  std::chrono::milliseconds longestBackoff{4000};
};

// What one till wrote of itself (drill_till's result.txt), by name, and how it ended.
struct DrillTill {
  std::string code;  // its CDCAIXA
  std::map<std::string, double> said;
  std::vector<std::string> repeats;  // orders it was told were refused as possible repeats
  std::string ended;                 // "exit 0", "exit N", "signal N" or "killed: ..."

  double Said(const std::string& name) const;
};

// An order request as the sandbox saw it.
struct OrderArrival {
  std::chrono::steady_clock::time_point at;
  std::string orderId;
  bool accepted = false;
  bool repeat = false;  // refused as an order it already had
  std::string message;  // the service's, or "no answer"
};

struct DrillOutcome {
  std::vector<DrillTill> tills;
  std::vector<std::string> expectedOrders;  // every sale's orderId, sorted
  std::vector<std::string> recordedOrders;  // the sandbox's, sorted
  std::vector<OrderArrival> arrivals;       // order requests, in order of arrival
  std::chrono::steady_clock::time_point stopped, restarted;
  std::string problem;  // why the drill could not run to its end; "" when it did

  int Count(bool accepted, bool repeat) const;  // arrivals answered so
  int Refused() const;                          // arrivals refused, repeats included
  // The orders the service refused as repeats; those the tills were told
  // were refused as possible repeats. Each sorted, once.
  std::vector<std::string> RefusedOrders() const;
  std::vector<std::string> ToldRepeats() const;
  double Drain() const;  // seconds from the restart to the last order's arrival
  // The most orders that arrived in any one second of the first `seconds` after the restart.
  int PeakPerSecond(double seconds = 5) const;
  // Seconds from the restart to each till's first order after it.
  std::map<std::string, double> FirstAfterRestart() const;
  // Seconds the kept reports would take to send at the pace the service
  // took orders before it stopped.
  double SendingTime() const;
  double Sum(const std::string& name) const;  // over the tills
};

// Runs the drill in a temporary folder; never throws (problem says why).
DrillOutcome RunDrill(const DrillPlan& plan);

// The fast offline path: one till against a service that never answers;
// its first report waits out the time-out, the next `reports` are timed.
struct OfflineTimes {
  double firstMs = 0, medianMs = 0, maxMs = 0;
  std::string problem;
};
OfflineTimes RunOfflinePath(const std::string& tillProgram, int reports);

}  // namespace lumirex::bench
