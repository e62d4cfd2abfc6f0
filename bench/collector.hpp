// Google Benchmark's console output, and every run kept by name for the
// summary: the median of the repetitions, or the single run without them.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lumirex::bench {

struct Timing {
  double nanoseconds = 0;  // real time per iteration
  std::string error;       // the benchmark's error message when it failed
};

class Collector : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that a log of the run stays plain text.
  Collector();
  void ReportRuns(const std::vector<Run>& runs) override;

  // The timing of the benchmark registered under `name`; nullopt when it did not run.
  std::optional<Timing> Find(const std::string& name) const;

 private:
  std::map<std::string, Timing> timings_;
};

}  // namespace lumirex::bench
