#include "side_by_side.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iomanip>
#include <sstream>
#include <thread>

#include "c_call.hpp"
#include "customers.hpp"
#include "lumirex/lumirex.h"
#include "raw_client.hpp"

namespace lumirex::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLatencyMs = 20;
constexpr auto kRunLength = std::chrono::seconds(3);
const std::vector<int> kThreadCounts = {1, 2, 4, 8, 16};
constexpr int kHealthyThreads = 8;
constexpr int kSmallAnswer = 10;

double Percentile(std::vector<double>& sorted, double share) {
  if (sorted.empty()) return 0;
  const auto index = static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1));
  return sorted[index];
}

// `threads` threads each make exchanges (one a call of the function `make`
// makes for the thread) for the run's length, all starting together.
Spread Run(int threads, const std::function<std::function<bool()>()>& make) {
  std::vector<std::vector<double>> took(static_cast<std::size_t>(threads));
  std::atomic<int> ready{0};
  std::atomic<bool> failed{false};
  std::vector<std::thread> callers;
  Clock::time_point end;
  std::atomic<bool> go{false};
  for (int t = 0; t < threads; ++t) {
    callers.emplace_back([&, t] {
      const std::function<bool()> exchange = make();
      // Connected before the run, as a till's library is after its first call.
      if (!exchange()) failed = true;
      ++ready;
      while (!go) std::this_thread::yield();
      while (Clock::now() < end) {
        const Clock::time_point start = Clock::now();
        if (!exchange()) failed = true;
        took[static_cast<std::size_t>(t)].push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      }
    });
  }
  while (ready < threads) std::this_thread::yield();
  const Clock::time_point start = Clock::now();
  end = start + kRunLength;
  go = true;
  for (auto& caller : callers) caller.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (failed) throw std::runtime_error("a call failed: " + World::LastMessage());
  std::vector<double> all;
  for (const auto& own : took) all.insert(all.end(), own.begin(), own.end());
  std::sort(all.begin(), all.end());
  Spread spread;
  spread.threads = threads;
  spread.perSecond = static_cast<double>(all.size()) / seconds;
  spread.p50Ms = Percentile(all, 0.50);
  spread.p99Ms = Percentile(all, 0.99);
  spread.longestMs = all.empty() ? 0 : all.back();
  return spread;
}

std::function<std::function<bool()>()> LibraryCalls(const std::string& url) {
  return [url] {
    auto call = std::make_shared<CCall>(ConsultaParameters(url, CpfWithPromocodes(kSmallAnswer)));
    return std::function<bool()>([call] { return call->Run(); });
  };
}

std::function<std::function<bool()>()> RawExchanges(const std::string& url) {
  return [url] {
    auto raw = std::make_shared<RawClient>();
    return std::function<bool()>([raw, url] { return !raw->Get(url).empty(); });
  };
}

}  // namespace

SideBySide MeasureSideBySide(World& world) {
  SideBySide figures;
  figures.latencyMs = kLatencyMs;
  world.Sandbox().SetLatency(std::chrono::milliseconds(kLatencyMs));
  for (int threads : kThreadCounts) {
    LumirexSetMaxCalls(std::max(8, threads));
    figures.library.push_back(Run(threads, LibraryCalls(world.Url())));
    figures.raw.push_back(Run(threads, RawExchanges(world.ConsultaUrl(kSmallAnswer))));
  }
  LumirexSetMaxCalls(16);
  figures.healthy = Run(kHealthyThreads, LibraryCalls(world.Url()));
  // A service that takes every request and never answers: its caller waits
  // out its whole time-out, then asks again.
  sandbox::Sandbox silent;
  silent.Start();
  sandbox::Faults stall;
  stall.stallSeconds = 3600;
  silent.SetFaults(stall);
  std::atomic<bool> stop{false};
  std::thread waiting([&] {
    CCall call(ConsultaParameters(silent.BaseUrl(), CpfWithPromocodes(kSmallAnswer)));
    while (!stop) call.Run();
  });
  while (silent.Journal().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  figures.besideSilent = Run(kHealthyThreads, LibraryCalls(world.Url()));
  stop = true;
  silent.Stop();
  waiting.join();
  LumirexSetMaxCalls(8);
  world.Sandbox().SetLatency(std::chrono::milliseconds(0));
  world.Sandbox().ClearJournal();
  return figures;
}

std::string SideBySideMarkdown(const SideBySide& figures) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(1);
  out << "### 8. Calls side by side\n\n"
      << "CONSULTA with a " << kSmallAnswer << "-promocode answer from every thread at once, "
      << "against the sandbox answering after " << figures.latencyMs << " ms, for "
      << kRunLength.count() << " s a row; at most 8 calls at once, 16 for 16 threads "
      << "(`LumirexSetMaxCalls`). Raw libcurl: one easy handle a thread, GETting the same "
      << "answer.\n\n"
      << "| Threads | Library calls/s | p50 ms | p99 ms | longest ms | Raw libcurl/s | p50 ms "
         "| p99 ms |\n"
      << "|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (std::size_t i = 0; i < figures.library.size(); ++i) {
    const Spread& lib = figures.library[i];
    const Spread& raw = figures.raw[i];
    out << "| " << lib.threads << " | " << lib.perSecond << " | " << lib.p50Ms << " | " << lib.p99Ms
        << " | " << lib.longestMs << " | " << raw.perSecond << " | " << raw.p50Ms << " | "
        << raw.p99Ms << " |\n";
  }
  const Spread& one = figures.library.front();
  out << "\n";
  for (const Spread& lib : figures.library) {
    if (lib.threads == 8 || lib.threads == 16) {
      out << "- " << lib.threads << " threads: " << std::setprecision(2)
          << lib.perSecond / one.perSecond << " times the single-thread rate (target "
          << (lib.threads == 8 ? 6 : 10) << "); longest call " << lib.longestMs / lib.p50Ms
          << " times the median (target at 16 threads: at most 3)\n"
          << std::setprecision(1);
    }
  }
  out << "- " << kHealthyThreads << " callers, p99 " << figures.healthy.p99Ms << " ms alone and "
      << figures.besideSilent.p99Ms << " ms while one more call waits on a silent service "
      << "(target: within 100 ms); " << figures.besideSilent.perSecond << " calls/s then.\n\n";
  return out.str();
}

}  // namespace lumirex::bench
