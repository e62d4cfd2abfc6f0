#include "outbox/outbox_settings.hpp"

#include <mutex>

#include "support/fork_safe_mutex.hpp"
#include "support/process_state.hpp"
#include "support/system_clock_and_path.hpp"

namespace lumirex::outbox {

namespace {

struct State {
  ForkSafeMutex mutex;
  std::optional<std::string> file;
  std::int64_t limit = kDefaultLimit;
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

}  // namespace lumirex::outbox
