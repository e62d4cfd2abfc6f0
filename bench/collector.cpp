#include "collector.hpp"

#include <unistd.h>

namespace lumirex::bench {

namespace {

double Nanoseconds(const benchmark::BenchmarkReporter::Run& run) {
  return run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
}

}  // namespace

Collector::Collector() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

void Collector::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    const std::string& name = run.run_name.function_name;
    if (run.error_occurred) {
      timings_[name] = Timing{0, run.error_message};
      continue;
    }
    // With repetitions the median stands for the benchmark; a lone run stands for itself.
    if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
      timings_[name] = Timing{Nanoseconds(run), ""};
    } else if (run.run_type == Run::RT_Iteration && run.repetitions <= 1) {
      timings_[name] = Timing{Nanoseconds(run), ""};
    }
  }
}

std::optional<Timing> Collector::Find(const std::string& name) const {
  const auto found = timings_.find(name);
  if (found == timings_.end()) return std::nullopt;
  return found->second;
}

}  // namespace lumirex::bench
