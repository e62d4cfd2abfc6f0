// Calls from many threads at once, against a service some way off: what a
// back end serving several tills gets from one process, side by side with
// raw libcurl doing the same exchanges, and what one call waiting on a
// silent service costs the others.
#pragma once

#include <string>
#include <vector>

#include "world.hpp"

namespace lumirex::bench {

// The calls of one run: how many a second, and how long each took.
struct Spread {
  int threads = 0;
  double perSecond = 0;
  double p50Ms = 0, p99Ms = 0;
  double longestMs = 0;  // the longest single call of any thread
};

struct SideBySide {
  int latencyMs = 0;
  std::vector<Spread> library, raw;
  // Eight callers of the healthy service, without and with one more caller
  // waiting on a service that never answers.
  Spread healthy, besideSilent;
};

SideBySide MeasureSideBySide(World& world);
std::string SideBySideMarkdown(const SideBySide& figures);

}  // namespace lumirex::bench
