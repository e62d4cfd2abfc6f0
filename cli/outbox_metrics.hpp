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

struct MetricsOptions {
  // Where to write lumirex_outbox.prom; empty: standard output.
  std::string folder;
  // The till's name, for a machine whose several tills write to one folder:
  // each sample is labelled till="NAME" and the file is
  // lumirex_outbox_NAME.prom, so none replaces another's.
  std::string till;
};

// What the figures are made of, read in one opening of the outbox.
struct OutboxFigures {
  outbox::Waiting waiting;
  outbox::Tallies tallies;
  std::optional<outbox::ServiceNote> service;
};

// The figures as the text format has them, at `now` (seconds since 1970),
// labelled with the till's name when there is one. Counts and times only:
// no CPF, URL, password or path.
std::string MetricsText(const OutboxFigures& figures, std::int64_t now,
                        const std::string& till = "");

// Reads the outbox read-only and writes its figures as the options say,
// replacing the file whole. Returns 0; 1 when the file cannot be written
// (said on `err`); raises UsageError for a till name that is not plain, and
// OutboxError when the outbox cannot be read.
int WriteOutboxMetrics(const std::string& file, const MetricsOptions& options, std::ostream& out,
                       std::ostream& err);

}  // namespace lumirex::cli
