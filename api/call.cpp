// The integration call's entry: it copies the host's parameter list (never
// more elements than it holds, never deeper than the nesting limit) and hands
// it to the call, then writes back what the call changed in the result array.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "integration/call_outcome.hpp"
#include "integration/integration_call.hpp"
#include "lumirex/lumirex.h"
#include "support/settings.hpp"
#include "support/variant_nesting.hpp"

namespace lumirex {

namespace {

std::string ParameterElement(std::size_t index) {
  return "parameter element " + std::to_string(index);
}

// An element nested too deep is left EMPTY, and the first one named in refusal.
std::vector<Variant> CopyParameters(const LumirexVariant* params, std::int32_t lastIndex,
                                    std::string& refusal) {
  std::vector<Variant> copy;
  if (params == nullptr || lastIndex < 0) return copy;
  std::int64_t count = static_cast<std::int64_t>(lastIndex) + 1;
  copy.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = 0; i < count; ++i) {
    std::optional<Variant> item = CopyFromC(params[i]);
    if (!item && refusal.empty()) refusal = NestedTooDeep(ParameterElement(copy.size()));
    copy.push_back(item ? std::move(*item) : Variant());
  }
  return copy;
}

// Writes back the result elements the call changed, clearing each old value first.
void WriteBack(const Variant& before, const Variant& after, LumirexVariant* result) {
  if (result->type != LUMIREX_ARRAY || !after.isArray()) return;
  const auto& old = before.items();
  const auto& now = after.items();
  std::size_t count =
      std::min({old.size(), now.size(), static_cast<std::size_t>(result->value.array.count)});
  for (std::size_t i = 0; i < count; ++i) {
    if (now[i] == old[i]) continue;
    LumirexVariant written;
    now[i].toC(&written);  // built first, so an allocation failure leaves the old value
    LumirexVariantClear(&result->value.array.items[i]);
    result->value.array.items[i] = written;
  }
}

}  // namespace

}  // namespace lumirex

extern "C" bool IntegracaoLumirex(const LumirexVariant* params, int32_t last_index,
                                  LumirexVariant* result) {
  try {
    std::string refusal;
    std::vector<lumirex::Variant> copy = lumirex::CopyParameters(params, last_index, refusal);
    if (result == nullptr) return lumirex::RunIntegrationCall(std::move(copy), nullptr, refusal);
    std::optional<lumirex::Variant> before = lumirex::CopyFromC(*result);
    if (!before) {
      // Refused before the call looks at the array, which stays as it was.
      lumirex::Variant untouched;
      if (refusal.empty()) refusal = lumirex::NestedTooDeep("the result array");
      return lumirex::RunIntegrationCall(std::move(copy), &untouched, refusal);
    }
    lumirex::Variant after = *before;
    bool returned = lumirex::RunIntegrationCall(std::move(copy), &after, refusal);
    if (before->isArray()) lumirex::WriteBack(*before, after, result);
    return returned;
  } catch (...) {
    // Out of memory copying the host's values: report it as any failure is reported.
    lumirex::CallRecord& record = lumirex::LastCallRecord();
    record = lumirex::CallRecord{};
    record.error = LUMIREX_E_MEMORY;
    lumirex::settings::DeliverMessage("Exception IntegracaoLumirex: out of memory");
    return false;
  }
}
