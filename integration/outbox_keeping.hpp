// Keeping a sale or cancellation report in the outbox when the service could
// not be reached, and holding back a report whose order has others waiting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "integration/call_outcome.hpp"
#include "outbox/outbox.hpp"

namespace lumirex {

// Whether a report that failed with this code may be kept: a later attempt
// can mend a service that was not reached, or that answered without a verdict.
bool MayBeKept(std::int32_t error);

// When the outbox is on and reports of this order wait there, the code of
// the last one's failure: a new report of the order must go behind them.
std::optional<std::int32_t> WaitingBehind(const std::string& orderId);

// Keeps the report after its failure in `record`, when the outbox is on and
// the code allows it; says so in the record's message and sets `queued`.
void KeepReport(outbox::Report report, CallRecord& record) noexcept;

}  // namespace lumirex
