#include "cli/outbox_metrics.hpp"

#include <ctime>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "cli/outbox_command.hpp"
#include "cli/replace_file.hpp"
#include "cli/usage_error.hpp"

namespace lumirex::cli {

namespace {

struct Metric {
  const char* name;
  const char* type;
  const char* help;
  std::int64_t value;
};

// A report kept by a version before the epoch was recorded says only its
// local time; 0 when that cannot be read either.
std::int64_t EpochOfLocalTime(const std::string& text) {
  std::tm parts{};
  std::istringstream in(text);
  in >> std::get_time(&parts, "%Y-%m-%dT%H:%M:%S");
  if (in.fail()) return 0;
  parts.tm_isdst = -1;
  const std::time_t epoch = std::mktime(&parts);
  return epoch == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(epoch);
}

// Seconds the oldest report has waited; nullopt when it cannot be told.
std::optional<std::int64_t> OldestAge(const outbox::Waiting& waiting, std::int64_t now) {
  if (waiting.count == 0) return 0;
  std::int64_t kept = waiting.oldestKeptEpoch;
  if (kept == 0) kept = EpochOfLocalTime(waiting.oldestKeptAt);
  if (kept == 0) return std::nullopt;
  return now > kept ? now - kept : 0;  // a clock stepped back reads as new
}

void Write(std::ostream& out, const Metric& metric, const std::string& labels) {
  out << "# HELP " << metric.name << ' ' << metric.help << "\n# TYPE " << metric.name << ' '
      << metric.type << '\n'
      << metric.name << labels << ' ' << metric.value << '\n';
}

// A name that is safe as a label's value and in a file's name alike: one a
// systemd instance or a user name would have.
bool IsTillName(const std::string& till) {
  if (till.empty() || till.size() > 64 || till[0] == '.') return false;
  for (const char letter : till) {
    const bool plain = (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z') ||
                       (letter >= '0' && letter <= '9') || letter == '_' || letter == '-' ||
                       letter == '.';
    if (!plain) return false;
  }
  return true;
}

}  // namespace

std::string MetricsText(const OutboxFigures& figures, std::int64_t now, const std::string& till) {
  const outbox::Waiting& waiting = figures.waiting;
  const outbox::Tallies& tallies = figures.tallies;
  std::ostringstream out;
  const std::string labels = till.empty() ? std::string() : "{till=\"" + till + "\"}";
  const auto add = [&](const Metric& metric) { Write(out, metric, labels); };
  add({"lumirex_outbox_reports_waiting", "gauge",
       "Sale and cancellation reports the service has not had yet, held ones included.",
       waiting.count});
  add({"lumirex_outbox_reports_held", "gauge",
       "Waiting reports set aside after failing for long; only support sends or drops them.",
       waiting.held});
  if (const std::optional<std::int64_t> age = OldestAge(waiting, now)) {
    add({"lumirex_outbox_oldest_waiting_seconds", "gauge",
         "How long the oldest waiting report has waited; 0 when none waits.", *age});
  }
  add({"lumirex_outbox_reports_accepted_total", "counter", "Kept reports the service accepted.",
       tallies.accepted});
  add({"lumirex_outbox_reports_declined_total", "counter", "Kept reports the service refused.",
       tallies.declined});
  add({"lumirex_outbox_reports_dropped_total", "counter", "Waiting reports support dropped.",
       tallies.dropped});
  add({"lumirex_outbox_reports_held_total", "counter", "Times a waiting report was set aside.",
       tallies.held});
  add({"lumirex_outbox_counted_since_timestamp_seconds", "gauge",
       "When the outbox file began counting its reports, in seconds since 1970; 0 "
       "before it did.",
       tallies.sinceEpoch});
  if (const std::optional<outbox::ServiceNote>& service = figures.service) {
    add({"lumirex_service_offline", "gauge",
         "1 while the library treats the service as offline, else 0.",
         service->offlineSince != 0 ? 1 : 0});
    add({"lumirex_service_offline_since_timestamp_seconds", "gauge",
         "Since when the service has not answered, in seconds since 1970; 0 when online.",
         service->offlineSince});
    add({"lumirex_service_last_answer_timestamp_seconds", "gauge",
         "When the service last answered, in seconds since 1970; 0 when never.",
         service->lastAnswer});
    add({"lumirex_service_noted_timestamp_seconds", "gauge",
         "When the library last noted the service's state, in seconds since 1970.",
         service->notedAt});
  }
  return out.str();
}

int WriteOutboxMetrics(const std::string& file, const MetricsOptions& options, std::ostream& out,
                       std::ostream& err) {
  if (!options.till.empty() && !IsTillName(options.till)) {
    throw UsageError("--till takes letters, digits, '_', '-' and '.' only: '" + options.till + "'");
  }
  OutboxFigures figures;
  {
    outbox::Outbox box = OpenOutbox(file, outbox::SqliteFile::Mode::Read);
    figures = {box.Summary(), box.Totals(), box.ServiceState()};
  }
  const std::string text =
      MetricsText(figures, static_cast<std::int64_t>(std::time(nullptr)), options.till);
  if (options.folder.empty()) {
    out << text;
    return 0;
  }
  try {
    ReplaceFile(
        options.folder,
        options.till.empty() ? "lumirex_outbox.prom" : "lumirex_outbox_" + options.till + ".prom",
        text);
  } catch (const std::runtime_error& failure) {
    err << "lumirex: " << failure.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace lumirex::cli
