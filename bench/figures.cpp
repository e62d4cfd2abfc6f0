#include "figures.hpp"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace lumirex::bench {

namespace {

// The goals the figures are held against.
constexpr double kConsultaGoal = 1.5;
constexpr double kVendaGoal = 2.0;
constexpr double kFlatnessGoal = 0.20;
constexpr double kParseGoal = 4.0;
constexpr double kMemoryGoal = 8.0;
constexpr int kFlatFrom = 1000;

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// 100000 as "100 000".
std::string Count(long long value) {
  std::string digits = std::to_string(value);
  for (auto at = static_cast<long long>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), " ");
  }
  return digits;
}

std::string Duration(double ns) {
  if (ns >= 1e9) return Format("%.2f s", ns / 1e9);
  if (ns >= 1e6) return Format("%.2f ms", ns / 1e6);
  if (ns >= 1e3) return Format("%.1f µs", ns / 1e3);
  return Format("%.0f ns", ns);
}

std::string Ratio(double value) {
  return Format("%.2f×", value);
}

std::string Bytes(std::size_t bytes) {
  if (bytes >= 1024 * 1024) return Format("%.1f MiB", bytes / (1024.0 * 1024.0));
  if (bytes >= 1024) return Format("%.1f KiB", bytes / 1024.0);
  return std::to_string(bytes) + " B";
}

bool Ok(const std::optional<Timing>& timing) {
  return timing && timing->error.empty();
}

// A timing as a table cell: its duration, or why there is none.
std::string Cell(const std::optional<Timing>& timing) {
  if (!timing) return "not run";
  if (!timing->error.empty()) return "failed: " + timing->error;
  return Duration(timing->nanoseconds);
}

std::string RatioCell(const std::optional<Timing>& a, const std::optional<Timing>& b) {
  if (!Ok(a) || !Ok(b)) return "—";
  return Ratio(a->nanoseconds / b->nanoseconds);
}

std::string Verdict(std::optional<bool> met) {
  if (!met) return "not measured";
  return *met ? "**met**" : "**not met**";
}

struct Target {
  std::string name, goal, measured;
  std::optional<bool> met;
};

void ExchangeSection(std::ostringstream& out, const Figures& f) {
  const AnswerSize& small = f.consulta.front();
  out << "### 1. CONSULTA with a " << small.promocodes << "-promocode answer ("
      << Bytes(small.answerBytes) << ")\n\n"
      << "| | time per call |\n|---|---|\n"
      << "| `IntegracaoLumirex` through the C ABI | " << Cell(small.call) << " |\n"
      << "| raw libcurl GET of the same URL, reused handle | " << Cell(small.raw) << " |\n"
      << "| **ratio call / raw** | **" << RatioCell(small.call, small.raw) << "** |\n\n";
  out << "### 2. VENDA of a 20-item sale on SQLite (request body " << Bytes(f.vendaBodyBytes)
      << ", answer " << Bytes(f.vendaAnswerBytes) << ")\n\n"
      << "| | time per call |\n|---|---|\n"
      << "| `IntegracaoLumirex` through the C ABI | " << Cell(f.vendaCall) << " |\n"
      << "| raw libcurl POST of the same body, reused handle | " << Cell(f.vendaRaw) << " |\n"
      << "| **ratio call / raw** | **" << RatioCell(f.vendaCall, f.vendaRaw) << "** |\n"
      << "| the call with the outbox on (kept before sending, verdict recorded) | "
      << Cell(f.vendaOutbox) << " |\n"
      << "| **ratio outbox on / off** | **" << RatioCell(f.vendaOutbox, f.vendaCall) << "** |\n\n"
      << "With the outbox on, each sale or cancellation report costs one opening of the outbox "
         "file and two commits to it: the report kept before it is sent, which waits for the "
         "disk (WAL, `synchronous=FULL`), and its verdict, which does not.\n\n";
}

void SizesSection(std::ostringstream& out, const Figures& f) {
  out << "### 3. CONSULTA answers by size\n\n"
      << "The raw GET includes the sandbox building its answer; the library's share is the "
         "call less the raw GET.\n\n"
      << "| promocodes | answer | call | per promocode | raw GET | library's share "
         "per promocode | bare parse | call / parse | library's share / parse |\n"
      << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const AnswerSize& size : f.consulta) {
    out << "| " << Count(size.promocodes) << " | " << Bytes(size.answerBytes) << " | "
        << Cell(size.call) << " | ";
    const bool all = Ok(size.call) && Ok(size.raw) && Ok(size.parse);
    if (all) {
      const double share = size.call->nanoseconds - size.raw->nanoseconds;
      out << Duration(size.call->nanoseconds / size.promocodes) << " | " << Cell(size.raw) << " | "
          << Duration(share / size.promocodes) << " | " << Cell(size.parse) << " | "
          << Ratio(size.call->nanoseconds / size.parse->nanoseconds) << " | "
          << Ratio(share / size.parse->nanoseconds) << " |\n";
    } else {
      out << "— | " << Cell(size.raw) << " | — | " << Cell(size.parse) << " | — | — |\n";
    }
  }
  out << "\n";
}

void ConnectionsAndMemorySection(std::ostringstream& out, const Figures& f) {
  const ConsecutiveCalls& c = f.consecutive;
  out << "### 4. " << Count(c.calls) << " consecutive calls\n\n"
      << "| calls that succeeded | connections the sandbox accepted | time per call |\n"
      << "|---:|---:|---:|\n"
      << "| " << c.succeeded << " | " << c.connections << " | "
      << (c.calls > 0 ? Duration(c.seconds * 1e9 / c.calls) : "—") << " |\n\n";
  out << "### 5. Peak memory of the largest call\n\n"
      << "Measured in a child process that makes only this call (after a small warm-up "
         "call), from the resident set before the call to the peak (VmHWM), which is "
         "reset through /proc/self/clear_refs first. When the largest call fails, the "
         "next smaller answer is measured too.\n\n"
      << "| promocodes | answer | resident before | peak during | growth | growth / answer "
         "| call |\n"
      << "|---:|---:|---:|---:|---:|---:|---|\n";
  for (const PeakOfCall& call : f.peaks) {
    out << "| " << Count(call.promocodes) << " | " << Bytes(call.answerBytes) << " | ";
    if (!call.peak) {
      out << "— | — | — | — | not measured: " << call.error << " |\n";
      continue;
    }
    const PeakMemory& p = *call.peak;
    const double growth = p.GrowthKiB() * 1024.0;
    out << Bytes(p.rssBeforeKiB * 1024) << " | " << Bytes(p.peakAfterKiB * 1024) << " | "
        << Bytes(static_cast<std::size_t>(growth)) << " | " << Ratio(growth / call.answerBytes)
        << " | " << (p.callSucceeded ? "succeeded" : "**failed**")
        << (p.peakWasReset ? "" : " (the peak could not be reset: an upper bound)") << " |\n";
  }
  out << "\n";
}

void LogSection(std::ostringstream& out, const Figures& f) {
  const AnswerSize& small = f.consulta.front();
  out << "### 6. The integration log\n\n"
      << "| | time |\n|---|---:|\n"
      << "| one line (`LogLumirex`, a parameter line) | " << Cell(f.logLine) << " |\n"
      << "| the thirteen lines of a " << small.promocodes << "-promocode CONSULTA ("
      << Bytes(f.logCallBytes) << " of text) through `LogLumirex`, a file opening each "
      << "(a call opens it once) | " << Cell(f.logCallLines) << " |\n";
  if (Ok(f.logCallLines) && Ok(small.call)) {
    out << "| share of that call's time | "
        << Format("%.0f %%", 100 * f.logCallLines->nanoseconds / small.call->nanoseconds) << " |\n";
  }
  const AnswerSize& big = f.logAnswer;
  out << "| the RETORNO line of a " << Count(big.promocodes) << "-promocode answer ("
      << Bytes(big.answerBytes) << ") | " << Cell(f.logAnswerLine) << " |\n";
  if (Ok(f.logAnswerLine) && Ok(big.parse)) {
    out << "| that line / the bare parse of the answer | "
        << Ratio(f.logAnswerLine->nanoseconds / big.parse->nanoseconds) << " |\n";
  }
  out << "\n";
}

// From kFlatFrom promocodes up: the spread of the cost per promocode (the
// dearest against the cheapest) and the largest ratio to the bare parse, for
// the library's share and for the whole call.
struct SizeVerdicts {
  double shareSpread = 0, shareToParse = 0, callSpread = 0, callToParse = 0;
  std::string failed;   // the sizes whose calls failed, which count as missed
  std::string overCap;  // the sizes whose answers the HTTP client refuses, not judged
  int largest = 0;      // the largest size judged
};

// An answer over the HTTP client's size cap is refused by design; the
// targets hold up to the largest answer under it.
bool OverTheCap(const Timing& call) {
  return call.error.find("is larger than") != std::string::npos;
}

double Spread(const std::vector<double>& costs) {
  const auto [cheapest, dearest] = std::minmax_element(costs.begin(), costs.end());
  return *dearest / *cheapest - 1;
}

std::optional<SizeVerdicts> JudgeSizes(const Figures& f) {
  std::vector<double> shareCosts, callCosts;
  SizeVerdicts verdicts;
  for (const AnswerSize& size : f.consulta) {
    if (size.promocodes < kFlatFrom) continue;
    if (size.call && OverTheCap(*size.call)) {
      verdicts.overCap += (verdicts.overCap.empty() ? "" : ", ") + Count(size.promocodes);
      continue;
    }
    if (!Ok(size.call) || !Ok(size.raw) || !Ok(size.parse)) {
      verdicts.failed += (verdicts.failed.empty() ? "" : ", ") + Count(size.promocodes);
      continue;
    }
    verdicts.largest = size.promocodes;
    const double share = size.call->nanoseconds - size.raw->nanoseconds;
    shareCosts.push_back(share / size.promocodes);
    callCosts.push_back(size.call->nanoseconds / size.promocodes);
    verdicts.shareToParse = std::max(verdicts.shareToParse, share / size.parse->nanoseconds);
    verdicts.callToParse =
        std::max(verdicts.callToParse, size.call->nanoseconds / size.parse->nanoseconds);
  }
  if (shareCosts.empty()) return std::nullopt;
  verdicts.shareSpread = Spread(shareCosts);
  verdicts.callSpread = Spread(callCosts);
  return verdicts;
}

std::vector<Target> Targets(const Figures& f) {
  std::vector<Target> targets;
  const AnswerSize& small = f.consulta.front();
  const auto ratioTarget = [&](const std::string& name, double goal,
                               const std::optional<Timing>& call,
                               const std::optional<Timing>& raw) {
    Target target{name, "≤ " + Ratio(goal) + " raw", RatioCell(call, raw), std::nullopt};
    if (Ok(call) && Ok(raw)) target.met = call->nanoseconds / raw->nanoseconds <= goal;
    targets.push_back(target);
  };
  ratioTarget("(1) CONSULTA call / raw GET", kConsultaGoal, small.call, small.raw);
  ratioTarget("(2) VENDA call / raw POST", kVendaGoal, f.vendaCall, f.vendaRaw);
  targets.push_back(
      {"(2) VENDA call / raw POST, PostgreSQL through ODBC", "≤ " + Ratio(kVendaGoal) + " raw",
       "not in this build: measured once PostgreSQL is a point-of-sale database", std::nullopt});

  const std::optional<SizeVerdicts> sizes = JudgeSizes(f);
  const std::string largest = sizes ? Count(sizes->largest) : std::string("—");
  Target flat{"(3) cost per promocode (library's share), " + Count(kFlatFrom) + " to " + largest,
              "flat within " + Format("%.0f %%", kFlatnessGoal * 100), "—", std::nullopt};
  Target parse{"(3) library's share / bare parse, " + Count(kFlatFrom) + " to " + largest,
               "≤ " + Ratio(kParseGoal), "—", std::nullopt};
  if (sizes) {
    std::string failed =
        sizes->failed.empty() ? "" : "; the call failed at " + sizes->failed + " promocodes";
    if (!sizes->overCap.empty()) {
      failed += "; " + sizes->overCap + " promocodes: over the answer size cap, not judged";
    }
    flat.measured = Format("%.0f %% spread", sizes->shareSpread * 100) +
                    Format(" (whole call: %.0f %%)", sizes->callSpread * 100) + failed;
    flat.met = sizes->failed.empty() && sizes->shareSpread <= kFlatnessGoal;
    parse.measured = "worst " + Ratio(sizes->shareToParse) + " (whole call: worst " +
                     Ratio(sizes->callToParse) + ")" + failed;
    parse.met = sizes->failed.empty() && sizes->shareToParse <= kParseGoal;
  }
  targets.push_back(flat);
  targets.push_back(parse);

  const ConsecutiveCalls& c = f.consecutive;
  targets.push_back({"(4) connections for " + Count(c.calls) + " calls", "1",
                     std::to_string(c.connections),
                     c.calls > 0 ? std::optional<bool>(c.connections == 1 && c.succeeded == c.calls)
                                 : std::nullopt});
  // Judged at the largest answer whose call succeeds; larger ones are named.
  Target memory{"(5) peak memory / answer size, largest answer under the size cap",
                "≤ " + Ratio(kMemoryGoal), "—", std::nullopt};
  std::string refused;
  for (const PeakOfCall& call : f.peaks) {
    if (!call.peak) continue;
    if (!call.peak->callSucceeded) {
      refused += (refused.empty() ? "" : ", ") + Count(call.promocodes);
      continue;
    }
    const double ratio = call.peak->GrowthKiB() * 1024.0 / call.answerBytes;
    memory.measured = Ratio(ratio) + " at " + Count(call.promocodes) + " promocodes";
    if (!refused.empty()) memory.measured += " (the call failed at " + refused + ")";
    memory.met = ratio <= kMemoryGoal;
    break;
  }
  targets.push_back(memory);
  return targets;
}

void TargetsSection(std::ostringstream& out, const Figures& f) {
  out << "### Targets\n\n| target | goal | measured | |\n|---|---|---|---|\n";
  for (const Target& target : Targets(f)) {
    out << "| " << target.name << " | " << target.goal << " | " << target.measured << " | "
        << Verdict(target.met) << " |\n";
  }
  out << "\n";
}

void LogReadingSection(std::ostringstream& out, const LogReadingPeak& p) {
  if (p.answerBytes == 0) return;
  out << "### 7. `lumirex log` over a log with one huge answer\n\n"
      << "The command run on a log of " << Bytes(p.fileBytes) << " whose largest call block ("
      << Bytes(p.blockBytes) << ") holds an answer of " << Bytes(p.answerBytes) << ", between "
      << "thousands of small calls; peak resident set of the process "
      << "(ru_maxrss). The target: a small multiple of the largest block, not of the file.\n\n";
  if (!p.error.empty()) {
    out << "Not measured: " << p.error << "\n\n";
    return;
  }
  const double block = static_cast<double>(p.blockBytes);
  out << "| output | peak | peak / largest block |\n|---|---:|---:|\n"
      << "| the small calls alone | " << Bytes(p.idleKiB * 1024) << " | — |\n"
      << "| one line a call | " << Bytes(p.tableKiB * 1024) << " | "
      << Ratio(p.tableKiB * 1024.0 / block) << " |\n"
      << "| --json | " << Bytes(p.jsonKiB * 1024) << " | " << Ratio(p.jsonKiB * 1024.0 / block)
      << " |\n\n";
}

}  // namespace

std::string LogReadingMarkdown(const LogReadingPeak& peak) {
  std::ostringstream out;
  LogReadingSection(out, peak);
  return out.str();
}

std::string FiguresMarkdown(const Figures& figures) {
  std::ostringstream out;
  ExchangeSection(out, figures);
  SizesSection(out, figures);
  ConnectionsAndMemorySection(out, figures);
  LogSection(out, figures);
  LogReadingSection(out, figures.logReading);
  TargetsSection(out, figures);
  return out.str();
}

std::string PerformanceDocument(const Machine& machine, const Figures& figures,
                                const std::string& notes) {
  std::ostringstream out;
  out << "# Performance\n\n"
      << "Written by `./dev bench` from the figures of its latest run; do not edit the "
         "figures by hand. Times are real (wall-clock) times per call, the median of "
         "repetitions, against the in-process sandbox on the loopback interface.\n\n"
      << "## Machine\n\n"
      << "- Date: " << machine.date << "\n"
      << "- CPU: " << machine.cpuModel << ", " << machine.cores << " processors online\n"
      << "- Memory: " << machine.memory << "\n"
      << "- System: " << machine.kernel << "\n"
      << "- Software: " << machine.software << "\n\n"
      << "## Figures\n\n"
      << FiguresMarkdown(figures);
  if (!notes.empty()) out << notes;
  return out.str();
}

}  // namespace lumirex::bench
