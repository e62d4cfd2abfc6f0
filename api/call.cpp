// The integration call's entry: it copies the host's parameter list (never
// more elements than it holds, never deeper than the nesting limit) and hands
// it to the call, then writes back what the call changed in the result array:
// all of it after a true return, none of it after a false one.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "api/write_back.hpp"
#include "integration/call_outcome.hpp"
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

// The host's array: each changed element is built as a C value first, and
// clearing an old value and moving a built one in cannot fail.
class CResult final : public api::HostResult {
 public:
  explicit CResult(LumirexVariant& result) : result_(result) {}
  ~CResult() override {
    for (auto& element : built_) LumirexVariantClear(&element.value);
  }
  CResult(const CResult&) = delete;
  CResult& operator=(const CResult&) = delete;

  std::size_t Count() const override {
    return result_.type == LUMIREX_ARRAY ? static_cast<std::size_t>(result_.value.array.count) : 0;
  }

  void Build(std::size_t index, const Variant& value) override {
    built_.push_back({index, LumirexVariant{}});
    value.toC(&built_.back().value);
  }

  void PutInPlace() noexcept override {
    for (auto& element : built_) {
      LumirexVariant& target = result_.value.array.items[element.index];
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
  LumirexVariant& result_;
  std::vector<Element> built_;
};

bool Call(const LumirexVariant* params, std::int32_t lastIndex, LumirexVariant* result) {
  std::string refusal;
  std::vector<Variant> copy = CopyParameters(params, lastIndex, refusal);
  if (result == nullptr) return api::CallAndWriteBack(std::move(copy), refusal, nullptr, nullptr);
  std::optional<Variant> before = CopyFromC(*result);
  if (!before) {
    // Refused before the call looks at the array, which stays as it was.
    if (refusal.empty()) refusal = NestedTooDeep("the result array");
    const Variant untouched;
    return api::CallAndWriteBack(std::move(copy), refusal, &untouched, nullptr);
  }
  CResult host(*result);
  return api::CallAndWriteBack(std::move(copy), refusal, &*before, &host);
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
