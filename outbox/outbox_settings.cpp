#include "outbox/outbox_settings.hpp"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "support/process_state.hpp"
#include "support/system_clock_and_path.hpp"

namespace lumirex::outbox {

namespace {

struct State {
  std::mutex mutex;
  std::optional<std::string> file;
  std::int64_t limit = kDefaultLimit;
  std::int64_t keepDays = 0;  // 0: not set by the host
};

State& state() {
  return ProcessState<State>();
}

}  // namespace

std::optional<std::string> File() {
  {
    std::lock_guard lock(state().mutex);
    if (state().file) return state().file;
  }
  return EnvironmentValue("LUMIREX_OUTBOX");
}

void SetFile(std::optional<std::string> file) {
  std::lock_guard lock(state().mutex);
  state().file = std::move(file);
}

std::int64_t Limit() {
  std::lock_guard lock(state().mutex);
  return state().limit;
}

bool SetLimit(std::int64_t limit) {
  if (limit < 1) return false;
  std::lock_guard lock(state().mutex);
  state().limit = limit;
  return true;
}

std::int64_t KeepDays() {
  {
    std::lock_guard lock(state().mutex);
    if (state().keepDays > 0) return state().keepDays;
  }
  const char* value = std::getenv("LUMIREX_OUTBOX_KEEP_DAYS");
  if (value == nullptr) return kDefaultKeepDays;
  std::int64_t days = 0;
  const char* end = value + std::strlen(value);
  const auto [stop, error] = std::from_chars(value, end, days);
  return error == std::errc() && stop == end && days >= 1 ? days : kDefaultKeepDays;
}

bool SetKeepDays(std::int64_t days) {
  if (days < 1) return false;
  std::lock_guard lock(state().mutex);
  state().keepDays = days;
  return true;
}

}  // namespace lumirex::outbox
