// The integration call's entry: it copies the host's parameter list (never
// more elements than it holds, never deeper than the nesting limit) and hands
// it to the call, then writes back what the call changed in the result array:
// all of it after a true return, none of it after a false one.
#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "integration/call_outcome.hpp"
#include "integration/integration_call.hpp"
#include "lumirex/lumirex.h"
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

// The host's elements that the call changed, each built as a C value before
// any of them is put in place: running out of memory halfway leaves the host's
// array as it was, and what was built is freed.
class ChangedElements {
 public:
  ChangedElements() = default;
  ~ChangedElements() {
    for (auto& element : built_) LumirexVariantClear(&element.value);
  }
  ChangedElements(const ChangedElements&) = delete;
  ChangedElements& operator=(const ChangedElements&) = delete;

  void Build(const Variant& before, const Variant& after, const LumirexVariant& result) {
    const auto& old = before.items();
    const auto& now = after.items();
    const std::size_t count =
        std::min({old.size(), now.size(), static_cast<std::size_t>(result.value.array.count)});
    for (std::size_t i = 0; i < count; ++i) {
      if (now[i] == old[i]) continue;
      built_.push_back({i, LumirexVariant{}});
      now[i].toC(&built_.back().value);
    }
  }

  // Clearing an old value and moving a built one in cannot fail.
  void PutInPlace(LumirexVariant* result) noexcept {
    for (auto& element : built_) {
      LumirexVariant& target = result->value.array.items[element.index];
      LumirexVariantClear(&target);
      target = element.value;
      LumirexVariantInit(&element.value);
    }
  }

 private:
  struct Element {
    std::size_t index;
    LumirexVariant value;
  };
  std::vector<Element> built_;
};

// The call proper: the host's array is changed only after a true return, and
// then all at once.
bool Call(const LumirexVariant* params, std::int32_t lastIndex, LumirexVariant* result) {
  std::string refusal;
  std::vector<Variant> copy = CopyParameters(params, lastIndex, refusal);
  if (result == nullptr) return RunIntegrationCall(std::move(copy), nullptr, refusal);
  std::optional<Variant> before = CopyFromC(*result);
  if (!before) {
    // Refused before the call looks at the array, which stays as it was.
    Variant untouched;
    if (refusal.empty()) refusal = NestedTooDeep("the result array");
    return RunIntegrationCall(std::move(copy), &untouched, refusal);
  }
  Variant after = *before;
  if (!RunIntegrationCall(std::move(copy), &after, refusal)) return false;
  if (result->type != LUMIREX_ARRAY || !after.isArray()) return true;
  ChangedElements changed;
  try {
    changed.Build(*before, after, *result);
  } catch (const std::bad_alloc&) {
    // The exchange took place: the record keeps whether the request was sent.
    RecordOutOfMemory(true);
    return false;
  }
  changed.PutInPlace(result);
  return true;
}

}  // namespace

}  // namespace lumirex

extern "C" bool IntegracaoLumirex(const LumirexVariant* params, int32_t last_index,
                                  LumirexVariant* result) {
  try {
    return lumirex::Call(params, last_index, result);
  } catch (...) {
    // Out of memory copying the host's values in or the answer out: reported
    // without allocating, as nothing more may be had.
    lumirex::RecordOutOfMemory();
    return false;
  }
}
