#include "outbox/outbox_settings.hpp"

#include <cstdlib>
#include <mutex>

#include "support/process_state.hpp"

namespace lumirex::outbox {

namespace {

struct State {
  std::mutex mutex;
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
  const char* value = std::getenv("LUMIREX_OUTBOX");
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
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
