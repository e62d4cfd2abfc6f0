// Forwarding after an outage, measured: the drill with several tills (how
// long their outboxes take to drain once the service is back, and the peak
// rate it then sees), and the fast offline path (what a sale report costs
// once the service is known to be silent).
#pragma once

#include <string>

namespace lumirex::bench {

// Runs both; the section of docs/performance.md.
std::string ForwardingDrillMarkdown();

}  // namespace lumirex::bench
