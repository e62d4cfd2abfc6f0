#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/variant_nesting.hpp"

namespace lumirex {

namespace {

bool DeeperThan(const Variant& value, int levelsLeft) {
  if (!value.isArray()) return false;
  if (levelsLeft == 0) return true;
  for (const Variant& item : value.items()) {
    if (DeeperThan(item, levelsLeft - 1)) return true;
  }
  return false;
}

}  // namespace

std::optional<Variant> CopyFromC(const LumirexVariant& value) {
  try {
    return Variant::fromC(value);
  } catch (const std::length_error&) {
    return std::nullopt;
  }
}

bool NestsTooDeep(const Variant& value) {
  return DeeperThan(value, kMaxArrayNesting);
}

void ReleaseLevelByLevel(Variant& value) noexcept {
  if (!value.isArray()) {
    value = Variant();
    return;
  }
  // Each array is taken apart after its inner arrays were moved out, so no
  // destructor below runs more than one level deep. Moving leaves nothing to
  // allocate but the list's growth; should that fail, the rest goes the usual way.
  std::vector<Variant> pending;
  try {
    pending.push_back(std::move(value));
    while (!pending.empty()) {
      Variant array = std::move(pending.back());
      pending.pop_back();
      for (Variant& item : array.items()) {
        if (item.isArray()) pending.push_back(std::move(item));
      }
    }
  } catch (...) {
  }
  value = Variant();
}

std::string NestedTooDeep(const std::string& what) {
  return what + " holds arrays nested more than " + std::to_string(kMaxArrayNesting) +
         " deep; the library takes at most " + std::to_string(kMaxArrayNesting) + " levels";
}

}  // namespace lumirex
