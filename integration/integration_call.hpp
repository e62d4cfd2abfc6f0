// The integration call behind both public APIs.
#pragma once

#include <mutex>
#include <vector>

#include "lumirex/lumirex.hpp"

namespace lumirex {

// One integration call on a parameter list whose every element may be read
// (the APIs cut it at the host's last index). result may be null: the call
// then fails after logging, touching nothing. Never throws.
bool RunIntegrationCall(std::vector<Variant> params, Variant* result) noexcept;

// Held for the whole of every call, so the one data module is never used by
// two calls at once; Finalize takes it too.
std::mutex& CallMutex();

}  // namespace lumirex
