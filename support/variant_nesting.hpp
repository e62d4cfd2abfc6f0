// How deep a host's arrays may nest. Copying, comparing and releasing a
// variant take a stack frame for each level, and a till's worker thread may
// have a small stack; no parameter the call reads nests more than one level.
#pragma once

#include <optional>
#include <string>

#include "lumirex/lumirex.h"
#include "lumirex/lumirex.hpp"

namespace lumirex {

inline constexpr int kMaxArrayNesting = Variant::kMaxNesting;

// A copy of a host's variant; nullopt, with nothing kept, when its arrays nest
// deeper than kMaxArrayNesting. Never more than that many frames deep.
std::optional<Variant> CopyFromC(const LumirexVariant& value);

// Whether value's arrays nest deeper than kMaxArrayNesting; never more than
// that many frames deep.
bool NestsTooDeep(const Variant& value);

// Leaves value EMPTY, one level at a time, however deep its arrays nest.
void ReleaseLevelByLevel(Variant& value) noexcept;

// The refusal of what ("parameter element 9") for nesting too deep.
std::string NestedTooDeep(const std::string& what);

}  // namespace lumirex
