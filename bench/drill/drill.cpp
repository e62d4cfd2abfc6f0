#include "drill/drill.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "drill/child_process.hpp"
#include "pos_database.hpp"
#include "sandbox/sandbox.hpp"
#include "temp_folder.hpp"

namespace lumirex::bench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Generous for a loaded machine and the sanitizers' builds, yet together
// under the two minutes ctest gives a test, so a drill that goes wrong
// fails by itself. Each till waits at most 30 s for its outbox to drain,
// then ends by itself.
constexpr auto kSellingWait = 60s;
constexpr auto kEndingWait = 45s;
constexpr auto kPoll = 10ms;

std::string TillCode(int index) {
  return std::to_string(101 + index);
}

// A sale's orderId as the sale query makes it: branch, till, business day
// of the demo sale, sequence.
std::string OrderIdOf(const std::string& till, int sequence) {
  char text[32];
  std::snprintf(text, sizeof text, "0001%s05/03/2024%06d", till.c_str(), sequence);
  return text;
}

// drill_till's result.txt: figures, then the orders told as repeats.
void ReadResult(const std::filesystem::path& file, DrillTill& till) {
  std::ifstream in(file);
  std::string name, value;
  while (in >> name >> value) {
    if (name == "repeat") {
      till.repeats.push_back(value);
    } else {
      till.said[name] = std::stod(value);
    }
  }
}

std::string OrderIdIn(const std::string& document) {
  const std::string open = "<orderId>";
  const auto start = document.find(open);
  const auto end = document.find("</orderId>", start);
  if (start == std::string::npos || end == std::string::npos) return "";
  return document.substr(start + open.size(), end - start - open.size());
}

// The order requests the sandbox answered, from its serving threads.
class OrderWatch {
 public:
  void Saw(const sandbox::Served& served) {
    const auto& request = served.request;
    if (request.method != "POST" || !request.path.ends_with("/order")) return;
    const bool accepted = served.success.value_or(false);
    std::lock_guard lock(mutex_);
    arrivals_.push_back({request.arrived, OrderIdIn(request.document), accepted, false,
                         served.success ? served.message : "no answer"});
    if (accepted) ++accepted_;
  }

  int Accepted() const { return accepted_.load(); }

  // In order of arrival; a refusal of an order accepted before is a repeat.
  std::vector<OrderArrival> Arrivals() const {
    std::vector<OrderArrival> arrivals;
    {
      std::lock_guard lock(mutex_);
      arrivals = arrivals_;
    }
    std::stable_sort(arrivals.begin(), arrivals.end(),
                     [](const auto& a, const auto& b) { return a.at < b.at; });
    std::set<std::string> had;
    for (OrderArrival& arrival : arrivals) {
      arrival.repeat = !arrival.accepted && had.contains(arrival.orderId);
      if (arrival.accepted) had.insert(arrival.orderId);
    }
    return arrivals;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<OrderArrival> arrivals_;
  std::atomic<int> accepted_{0};
};

bool Sold(const std::vector<std::filesystem::path>& bases) {
  return std::all_of(bases.begin(), bases.end(),
                     [](const auto& base) { return std::filesystem::exists(base / "sold"); });
}

template <typename Done>
bool WaitFor(Clock::time_point deadline, Done done) {
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

// The tills' folders, each with its database of `sales` sales.
std::vector<std::filesystem::path> MakeTills(const std::filesystem::path& root, int tills,
                                             int sales) {
  std::vector<std::filesystem::path> bases;
  for (int i = 0; i < tills; ++i) {
    const auto base = root / ("till-" + TillCode(i));
    std::filesystem::create_directories(base / "Dados");
    CreateTillDatabase(base / "Dados" / "pos.sqlite", TillCode(i), sales);
    bases.push_back(base);
  }
  return bases;
}

std::vector<std::string> TillArgs(const std::string& program, const std::string& mode,
                                  const std::string& url, const std::filesystem::path& base,
                                  const std::string& till, int sales) {
  return {program,
          mode,
          url,
          base.string(),
          PosConnectionString(base / "Dados" / "pos.sqlite"),
          (base / "outbox.sqlite").string(),
          till,
          std::to_string(sales)};
}

// A till that ended before it sold everything will never sell it.
bool AnyEnded(std::vector<std::unique_ptr<ChildProcess>>& children,
              const std::vector<std::filesystem::path>& bases) {
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (!std::filesystem::exists(bases[i] / "sold") && children[i]->Ended()) return true;
  }
  return false;
}

// The service goes once it accepted enough sales (or every till has sold),
// and comes back on its port once the outage lasted and every till has sold.
void Outage(const DrillPlan& plan, sandbox::Sandbox& service, const OrderWatch& watch,
            const std::vector<std::filesystem::path>& bases,
            std::vector<std::unique_ptr<ChildProcess>>& children, DrillOutcome& outcome) {
  const int port = service.Port();
  const auto selling = Clock::now() + kSellingWait;
  WaitFor(selling, [&] {
    return watch.Accepted() >= plan.stopAfterAccepted || Sold(bases) || AnyEnded(children, bases);
  });
  outcome.stopped = Clock::now();
  service.Stop();
  service.SetFaults({});
  const auto back = outcome.stopped + plan.outage;
  if (!WaitFor(
          selling,
          [&] { return (Clock::now() >= back && Sold(bases)) || AnyEnded(children, bases); }) ||
      !Sold(bases)) {
    outcome.problem = "a till ended, or had not sold everything after " +
                      std::to_string(kSellingWait.count()) + " s, before the service came back";
  }
  service.Start(port);
  outcome.restarted = Clock::now();
}

void Gather(const std::vector<std::filesystem::path>& bases,
            std::vector<std::unique_ptr<ChildProcess>>& children, DrillOutcome& outcome) {
  const auto ending = outcome.restarted + kEndingWait;
  for (std::size_t i = 0; i < children.size(); ++i) {
    DrillTill till;
    till.code = TillCode(static_cast<int>(i));
    till.ended = children[i]->WaitUntil(ending);
    ReadResult(bases[i] / "result.txt", till);
    outcome.tills.push_back(std::move(till));
  }
}

}  // namespace

DrillOutcome RunDrill(const DrillPlan& plan) {
  DrillOutcome outcome;
  try {
    TempFolder root;
    const auto bases = MakeTills(root.path(), plan.tills, plan.salesPerTill);
    OrderWatch watch;
    sandbox::Sandbox service;
    service.SetObserver([&watch](const sandbox::Served& served) { watch.Saw(served); });
    sandbox::Faults cut;
    cut.closeAfterBytes = 10;
    cut.share = plan.cutAnswers;
    if (plan.cutAnswers > 0) service.SetFaults(cut);
    service.Start();
    const auto environment = EnvironmentWith("LUMIREX_FORWARDING_BACKOFF_MS",
                                             std::to_string(plan.firstBackoff.count()) + "," +
                                                 std::to_string(plan.longestBackoff.count()));
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < plan.tills; ++i) {
      children.push_back(
          std::make_unique<ChildProcess>(TillArgs(plan.tillProgram, "drill", service.BaseUrl(),
                                                  bases[i], TillCode(i), plan.salesPerTill),
                                         environment));
    }
    Outage(plan, service, watch, bases, children, outcome);
    Gather(bases, children, outcome);
    service.Stop();
    service.SetObserver(nullptr);
    outcome.arrivals = watch.Arrivals();
    outcome.recordedOrders = service.RecordedOrders();
    std::sort(outcome.recordedOrders.begin(), outcome.recordedOrders.end());
    for (int i = 0; i < plan.tills; ++i) {
      for (int sale = 1; sale <= plan.salesPerTill; ++sale) {
        outcome.expectedOrders.push_back(OrderIdOf(TillCode(i), sale));
      }
    }
    std::sort(outcome.expectedOrders.begin(), outcome.expectedOrders.end());
  } catch (const std::exception& error) {
    outcome.problem = error.what();
  }
  return outcome;
}

OfflineTimes RunOfflinePath(const std::string& tillProgram, int reports) {
  OfflineTimes times;
  try {
    TempFolder root;
    const auto bases = MakeTills(root.path(), 1, reports + 1);
    sandbox::Sandbox service;
    sandbox::Faults silent;
    silent.stallSeconds = 600;
    service.SetFaults(silent);
    service.Start();
    ChildProcess till(
        TillArgs(tillProgram, "offline", service.BaseUrl(), bases[0], TillCode(0), reports + 1),
        EnvironmentWith("LUMIREX_FORWARDING_BACKOFF_MS", ""));
    WaitFor(Clock::now() + kSellingWait, [&] { return Sold(bases); });
    // Cuts short the stalled probe, so the till ends at once.
    service.Stop();
    const std::string ended = till.WaitUntil(Clock::now() + kEndingWait);
    DrillTill result;
    ReadResult(bases[0] / "result.txt", result);
    if (ended != "exit 0" || result.Said("later_max_ms") < 0) {
      throw std::runtime_error("the till ended with " + ended + " and no figures");
    }
    times.firstMs = result.Said("first_ms");
    times.medianMs = result.Said("later_median_ms");
    times.maxMs = result.Said("later_max_ms");
  } catch (const std::exception& error) {
    times.problem = error.what();
  }
  return times;
}

}  // namespace lumirex::bench
