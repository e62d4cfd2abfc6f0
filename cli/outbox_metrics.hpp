// `lumirex outbox metrics`: the outbox's figures in the Prometheus text
// format, which the textfile collectors of node_exporter and
// windows_exporter read from a folder, so a chain's operations team collects
// every till's without reaching into it.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "outbox/outbox.hpp"

namespace lumirex::cli {

// The file written in the --textfile folder.
inline constexpr const char* kMetricsFileName = "lumirex_outbox.prom";

// What the figures are made of, read in one opening of the outbox.
struct OutboxFigures {
  outbox::Waiting waiting;
  outbox::Tallies tallies;
  std::optional<outbox::ServiceNote> service;
};

// The figures as the text format has them, at `now` (seconds since 1970).
// Counts and times only: no CPF, URL, password or path.
std::string MetricsText(const OutboxFigures& figures, std::int64_t now);

// Reads the outbox read-only and writes its figures to `folder`/
// kMetricsFileName, replacing it whole, or to `out` when `folder` is empty.
// Returns 0; 1 when the file cannot be written (said on `err`); raises when
// the outbox cannot be read.
int WriteOutboxMetrics(const std::string& file, const std::string& folder, std::ostream& out,
                       std::ostream& err);

}  // namespace lumirex::cli
