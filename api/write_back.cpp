#include "api/write_back.hpp"

#include <algorithm>
#include <new>

#include "integration/call_outcome.hpp"
#include "integration/integration_call.hpp"

namespace lumirex::api {

namespace {

// Builds every element the call changed, then puts them all in place.
void WriteChanged(const Variant& before, const Variant& after, HostResult& host) {
  const auto& old = before.items();
  const auto& now = after.items();
  const std::size_t count = std::min({old.size(), now.size(), host.Count()});
  for (std::size_t i = 0; i < count; ++i) {
    if (!(now[i] == old[i])) host.Build(i, now[i]);
  }
  host.PutInPlace();
}

}  // namespace

bool CallAndWriteBack(std::vector<Variant> params, const std::string& refusal,
                      const Variant* result, HostResult* host) noexcept {
  if (result == nullptr) return RunIntegrationCall(std::move(params), nullptr, refusal);
  Variant after;
  try {
    after = *result;
  } catch (...) {
    RecordOutOfMemory();
    return false;
  }
  if (!RunIntegrationCall(std::move(params), &after, refusal)) return false;
  if (host == nullptr || !result->isArray() || !after.isArray()) return true;
  try {
    WriteChanged(*result, after, *host);
    return true;
  } catch (const std::bad_alloc&) {
    RecordOutOfMemory(true);
  } catch (...) {
    CallRecord& record = LastCallRecord();
    RecordCurrentFailure(record);
    TellOperator(record);
  }
  return false;
}

}  // namespace lumirex::api
