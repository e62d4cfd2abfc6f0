// The integration call behind both public APIs.
#pragma once

#include <string>
#include <vector>

#include "lumirex/lumirex.hpp"

namespace lumirex {

// One integration call on a parameter list whose every element may be read
// (the APIs cut it at the host's last index). result may be null: the call
// then fails after logging, touching nothing. The operator hears of a failure
// after the call's turn is given back. A call made on a thread that is already inside
// one (from the message handler, say) fails at once. A refusal found while
// copying the host's values (arrays nested too deep) fails the call as a bad
// parameter right after INICIO. Never throws.
bool RunIntegrationCall(std::vector<Variant> params, Variant* result,
                        std::string copyRefusal = {}) noexcept;

}  // namespace lumirex
