// One till of the forwarding drill: a host that reports its sales through
// the C ABI with the outbox and forwarding on, whatever the service does.
//   drill_till <mode> <service URL> <base folder> <connection string> <outbox> <till> <sales>
// Sale sequences are 000001 to <sales> of branch 0001 and that till.
// mode
//   drill:   reports every sale, one after the other; writes <base>/sold once
//            all were reported, then waits (at most 30 s) until the
//            outbox is empty and ends the library;
//   offline: the same without waiting, for the time each report took
//            against a silent service (the fast path).
// Writes what it saw to <base>/result.txt as "name value" lines, then a
// "repeat <orderId>" line for each kept report refused as a possible
// repeat. Exits 0, or
// 2 for bad arguments and 3 when the outbox could not be set.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lumirex/lumirex.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kDrainWait = std::chrono::seconds(30);

// How the kept reports ended, told by the library on its forwarder's thread.
std::atomic<int> keptAccepted{0}, keptRepeats{0}, keptDeclined{0}, keptHeld{0}, keptDropped{0};
std::mutex repeatsMutex;
std::vector<std::string> repeats;  // the orders refused as ones the service may have had

void LUMIREX_CALL OnKeptOutcome(const LumirexKeptOutcome* outcome, void*) {
  switch (outcome->end) {
    case LUMIREX_KEPT_ACCEPTED:
      ++keptAccepted;
      break;
    case LUMIREX_KEPT_DECLINED:
      if (outcome->repeat != 0) {
        ++keptRepeats;
        std::lock_guard lock(repeatsMutex);
        repeats.emplace_back(outcome->order_id);
      } else {
        ++keptDeclined;
      }
      break;
    case LUMIREX_KEPT_HELD:
      ++keptHeld;
      break;
    default:
      ++keptDropped;
  }
}

// What the calls themselves came to.
struct Sold {
  int accepted = 0;  // the service accepted it in the call
  int declined = 0;  // the service refused it in the call
  int kept = 0;      // it waits in the outbox (queued = 1)
  int lost = 0;      // neither answered nor kept
  std::vector<double> milliseconds;
};

void Report(const std::string& url, const std::string& till, int number, Sold& sold) {
  char sequence[16];
  std::snprintf(sequence, sizeof sequence, "%06d", number);
  lumirex::Variant result = lumirex::Variant::Array(5);
  const auto start = Clock::now();
  const bool answered = lumirex::IntegracaoLumirex(
      {"VENDA", url, "", "0001", till, std::string(sequence)}, 5, result);
  sold.milliseconds.push_back(
      std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  if (answered) {
    ++(result.items()[0].asBool() ? sold.declined : sold.accepted);
  } else {
    ++(lumirex::LastCall().queued ? sold.kept : sold.lost);
  }
}

int Waiting() {
  LumirexOutboxState state{};
  state.size = sizeof state;
  return LumirexOutboxStatus(&state) == 0 ? state.waiting : -1;
}

bool WaitUntilDrained() {
  const auto until = Clock::now() + kDrainWait;
  while (Waiting() != 0) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void Touch(const std::string& file) {
  std::ofstream(file) << "\n";
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

void WriteResult(const std::string& file, const Sold& sold, bool drained, int waiting) {
  std::ofstream out(file + ".part");
  out << "accepted " << sold.accepted << "\ndeclined " << sold.declined << "\nkept " << sold.kept
      << "\nlost " << sold.lost << "\nkept_accepted " << keptAccepted << "\nkept_repeats "
      << keptRepeats << "\nkept_declined " << keptDeclined << "\nkept_held " << keptHeld
      << "\nkept_dropped " << keptDropped << "\ndrained " << drained << "\nwaiting " << waiting
      << "\nfirst_ms " << (sold.milliseconds.empty() ? 0 : sold.milliseconds.front())
      << "\nlater_median_ms "
      << Percentile({sold.milliseconds.begin() + 1, sold.milliseconds.end()}, 0.5)
      << "\nlater_max_ms "
      << Percentile({sold.milliseconds.begin() + 1, sold.milliseconds.end()}, 1.0) << "\n";
  std::lock_guard lock(repeatsMutex);
  for (const std::string& order : repeats) out << "repeat " << order << "\n";
  out.close();
  std::rename((file + ".part").c_str(), file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) return 2;
  const std::string mode = argv[1], url = argv[2], base = argv[3], till = argv[6];
  const int sales = std::atoi(argv[7]);
  if ((mode != "drill" && mode != "offline") || sales < 1) return 2;
  LumirexSetBaseDir(base.c_str());
  LumirexSetConnectionString(argv[4]);
  LumirexSetMessageHandler([](const char*, void*) {}, nullptr);
  if (LumirexSetOutbox(argv[5]) != 0) return 3;
  LumirexSetOutboxHandler(OnKeptOutcome, nullptr);
  LumirexSetForwarding(1);
  Sold sold;
  for (int number = 1; number <= sales; ++number) Report(url, till, number, sold);
  Touch(base + "/sold");
  const bool drained = mode == "drill" && WaitUntilDrained();
  const int waiting = Waiting();
  // The forwarder ends here: every outcome it had was told before.
  Finalize();
  WriteResult(base + "/result.txt", sold, drained, waiting);
  return 0;
}
