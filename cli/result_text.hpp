// The outcome of a call in words, for a person at a terminal.
#pragma once

#include <ostream>

#include "cli/call_runner.hpp"

namespace lumirex::cli {

// "service accepted", "service declined" or "call failed".
const char* OutcomeWords(const CallRun& outcome);

// The outcome, the message, for a customer query the name, the balance and a
// table of the promocodes, any operator message, then (when showLog) the
// day's log file.
void PrintOutcome(std::ostream& out, const CallRun& outcome, char separator, bool showLog = true);

}  // namespace lumirex::cli
