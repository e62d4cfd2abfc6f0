// The outbox over a till's life: what keeping and sending a report cost on
// a new outbox and on one that made 100 000 reports or has 100 000 waiting,
// how large the WAL gets, whether keeps fail while a sender drains, and the
// memory of the commands that read it.
#pragma once

#include <string>

namespace lumirex::bench {

// Measures in a temporary folder; the section of docs/performance.md.
std::string OutboxLifeMarkdown();

}  // namespace lumirex::bench
