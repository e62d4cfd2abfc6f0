#include "integration/backoff.hpp"

#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "support/system_clock_and_path.hpp"

namespace lumirex {

namespace {

// This machine's share of the spread, in [0, 1): the same on every run, so
// two tills never draw the same place twice in a row by chance alone.
double MachineShare() noexcept {
  try {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const char c : MachineName()) {
      hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return static_cast<double>(hash % 10'000) / 10'000.0;
  } catch (...) {
    return 0.5;
  }
}

double Chance() noexcept {
  thread_local std::minstd_rand draw(
      static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count() ^
                                 reinterpret_cast<std::uintptr_t>(&draw)));
  return std::uniform_real_distribution<double>(0.0, 1.0)(draw);
}

// "first,longest": two whole numbers of milliseconds, 0 < first <= longest.
bool ParseBackoff(const char* text, BackoffBounds& bounds) noexcept {
  const char* end = text + std::strlen(text);
  long long first = 0;
  long long longest = 0;
  auto [next, error] = std::from_chars(text, end, first);
  if (error != std::errc() || next == end || *next != ',') return false;
  auto [last, error2] = std::from_chars(next + 1, end, longest);
  if (error2 != std::errc() || last != end || first <= 0 || longest < first) return false;
  bounds.first = std::chrono::milliseconds(first);
  bounds.longest = std::chrono::milliseconds(longest);
  return true;
}

BackoffBounds ReadBounds() noexcept {
  BackoffBounds bounds;
  try {
    if (const auto text = EnvironmentValue("LUMIREX_FORWARDING_BACKOFF_MS")) {
      BackoffBounds given;
      if (ParseBackoff(text->c_str(), given)) bounds = given;
    }
  } catch (...) {
  }
  return bounds;
}

}  // namespace

// Worked out on first use, without a guard a fork could leave held: two
// threads that both work them out find the same.
std::atomic<std::int64_t> firstMs{0}, longestMs{0};
std::atomic<int> shareInTenThousandths{-1};

BackoffBounds Backoff() noexcept {
  if (firstMs.load(std::memory_order_acquire) == 0) {
    const BackoffBounds bounds = ReadBounds();
    longestMs.store(bounds.longest.count());
    firstMs.store(bounds.first.count(), std::memory_order_release);
  }
  return {std::chrono::milliseconds(firstMs.load(std::memory_order_acquire)),
          std::chrono::milliseconds(longestMs.load())};
}

std::chrono::milliseconds BackoffDelay(int failures) noexcept {
  if (shareInTenThousandths.load() < 0) {
    shareInTenThousandths.store(static_cast<int>(MachineShare() * 10'000));
  }
  const double share = shareInTenThousandths.load() / 10'000.0;
  const BackoffBounds bounds = Backoff();
  auto base = bounds.first;
  for (int i = 0; i < failures && base < bounds.longest; ++i) base *= 2;
  if (base > bounds.longest) base = bounds.longest;
  // The upper half of the wait: half fixed, a quarter by machine, a quarter by chance.
  const double fraction = 0.5 + 0.25 * share + 0.25 * Chance();
  return std::chrono::milliseconds(static_cast<std::int64_t>(base.count() * fraction));
}

}  // namespace lumirex
