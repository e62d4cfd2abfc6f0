// `lumirex demo`: the four operations end to end on embedded defaults.
#pragma once

#include <ostream>
#include <string>

namespace lumirex::cli {

// Builds the demo point-of-sale database under dir, starts the sandbox
// service in this process, and runs a customer query, a promocode
// validation, a sale report and its cancellation with dir as base folder,
// showing each outcome and then the log lines the run wrote. Returns 0 when
// the service accepted all four, 1 otherwise.
int RunDemo(const std::string& dir, std::ostream& out);

}  // namespace lumirex::cli
