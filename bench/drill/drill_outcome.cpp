#include <algorithm>
#include <set>

#include "drill/drill.hpp"

namespace lumirex::bench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

double DrillTill::Said(const std::string& name) const {
  const auto found = said.find(name);
  return found == said.end() ? -1 : found->second;
}

int DrillOutcome::Count(bool accepted, bool repeat) const {
  return static_cast<int>(std::count_if(arrivals.begin(), arrivals.end(), [&](const auto& a) {
    return a.accepted == accepted && a.repeat == repeat;
  }));
}

int DrillOutcome::Refused() const {
  return static_cast<int>(
      std::count_if(arrivals.begin(), arrivals.end(), [](const auto& a) { return !a.accepted; }));
}

std::vector<std::string> DrillOutcome::RefusedOrders() const {
  std::set<std::string> orders;
  for (const OrderArrival& arrival : arrivals) {
    if (arrival.repeat) orders.insert(arrival.orderId);
  }
  return {orders.begin(), orders.end()};
}

std::vector<std::string> DrillOutcome::ToldRepeats() const {
  std::set<std::string> orders;
  for (const DrillTill& till : tills) orders.insert(till.repeats.begin(), till.repeats.end());
  return {orders.begin(), orders.end()};
}

double DrillOutcome::Drain() const {
  double last = 0;
  for (const OrderArrival& arrival : arrivals) {
    if (arrival.at >= restarted) last = std::max(last, Seconds(arrival.at - restarted));
  }
  return last;
}

int DrillOutcome::PeakPerSecond(double seconds) const {
  std::vector<Clock::time_point> times;
  for (const OrderArrival& arrival : arrivals) {
    if (arrival.at >= restarted && Seconds(arrival.at - restarted) <= seconds) {
      times.push_back(arrival.at);
    }
  }
  int peak = 0;
  for (std::size_t first = 0, last = 0; last < times.size(); ++last) {
    while (times[last] - times[first] >= 1s) ++first;
    peak = std::max(peak, static_cast<int>(last - first + 1));
  }
  return peak;
}

std::map<std::string, double> DrillOutcome::FirstAfterRestart() const {
  std::map<std::string, double> first;
  for (const OrderArrival& arrival : arrivals) {
    if (arrival.at < restarted || arrival.orderId.size() < 7) continue;
    first.try_emplace(arrival.orderId.substr(4, 3), Seconds(arrival.at - restarted));
  }
  return first;
}

double DrillOutcome::SendingTime() const {
  std::vector<Clock::time_point> before;
  for (const OrderArrival& arrival : arrivals) {
    if (arrival.at < stopped && arrival.accepted) before.push_back(arrival.at);
  }
  if (before.size() < 2) return 0;
  const double perOrder = Seconds(before.back() - before.front()) / (before.size() - 1);
  return Sum("kept") * perOrder;
}

double DrillOutcome::Sum(const std::string& name) const {
  double sum = 0;
  for (const DrillTill& till : tills) sum += std::max(till.Said(name), 0.0);
  return sum;
}

}  // namespace lumirex::bench
