// Peak memory of one integration call, measured in a child process so that
// neither the sandbox nor the benchmarks of the parent count.
#pragma once

#include <string>
#include <vector>

namespace lumirex::bench {

struct PeakMemory {
  long rssBeforeKiB = 0;      // resident set just before the call
  long peakAfterKiB = 0;      // VmHWM after it
  bool peakWasReset = false;  // after writing "5" to /proc/self/clear_refs, VmHWM was VmRSS
  bool callSucceeded = false;
  long GrowthKiB() const { return peakAfterKiB - rssBeforeKiB; }
};

// What the child is told: base folder, connection string, service URL, the
// CPF of a small warm-up call and the CPF of the measured call.
struct PeakMemoryJob {
  std::string baseDir, connection, url, warmUpCpf, measuredCpf;
};

inline constexpr const char* kPeakMemoryChildFlag = "--peak-memory-child";

// Runs this program again with kPeakMemoryChildFlag and reads its figures.
// Raises std::runtime_error when the child cannot run or says nothing.
PeakMemory MeasureInChild(const PeakMemoryJob& job);

// The child's side: argv after the flag; prints the figures, returns the exit status.
int PeakMemoryChildMain(const std::vector<std::string>& args);

}  // namespace lumirex::bench
