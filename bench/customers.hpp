// The sandbox customers of the benchmark: one per answer size.
#pragma once

#include <string>

#include "sandbox/sandbox.hpp"

namespace lumirex::bench {

// The CPF under which the customer with `promocodes` promocodes is served.
std::string CpfWithPromocodes(int promocodes);

// A customer whose promocodes look like a real service's: a code, a
// description with an accented letter, a gift and an expiration date.
sandbox::Customer CustomerWithPromocodes(int promocodes);

}  // namespace lumirex::bench
