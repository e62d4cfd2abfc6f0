// The host's handler of kept reports' endings: told, on the thread that sent
// the report, once for each kept report that a resend got a verdict for, or
// that was held or dropped meanwhile. Like the message handler, it runs with
// no turn held, so it may call the library.
#pragma once

#include "lumirex/lumirex.h"
#include "outbox/outbox.hpp"

namespace lumirex {

void SetKeptOutcomeHandler(LumirexOutboxHandler handler, void* context) noexcept;

// Tells the handler, if any, how `report` ended: `state` as the outbox
// recorded the attempt. A report still waiting is not told.
void TellKeptOutcome(const outbox::Report& report, outbox::State state,
                     const outbox::Attempt& attempt) noexcept;

}  // namespace lumirex
