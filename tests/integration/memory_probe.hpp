// The process's resident memory as the kernel counts it, for tests that must
// show a fault or a long run does not make the process grow.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace calltest {

// Under ASan or TSan the allocator holds freed blocks back and adds its own
// bookkeeping, so the peak says nothing about what the code under test kept.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kPeakShowsWhatTheCallHeld = false;
#else
inline constexpr bool kPeakShowsWhatTheCallHeld = true;
#endif

// A size line of /proc/self/status in KiB ("VmRSS": now, "VmHWM": the peak); -1 when absent.
inline long StatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) != 0) continue;
    std::istringstream value(line.substr(field.size() + 1));
    long kib = -1;
    value >> kib;
    return kib;
  }
  return -1;
}

// Starts the peak (VmHWM) again from the present size; false where the kernel refuses.
inline bool ResetPeakResident() {
  std::ofstream clearRefs("/proc/self/clear_refs");
  clearRefs << "5";
  clearRefs.flush();
  return clearRefs.good();
}

}  // namespace calltest
