#include "cli/outbox_command.hpp"

#include <filesystem>

#include <nlohmann/json.hpp>

#include "cli/display_text.hpp"
#include "cli/result_json.hpp"
#include "cli/usage_error.hpp"
#include "lumirex/lumirex.hpp"
#include "outbox/outbox.hpp"
#include "outbox/outbox_error.hpp"

namespace lumirex::cli {

namespace {

// The file must be there already: listing or dropping never creates one.
outbox::Outbox Open(const std::string& file) {
  if (!std::filesystem::exists(file)) {
    throw outbox::OutboxError("the outbox '" + file + "' does not exist");
  }
  return outbox::Outbox(file);
}

std::string SaleKey(const outbox::Report& report) {
  return report.branch + "/" + report.till + "/" + report.sequence;
}

// What support reads first: the verdict once there is one, else the last failure.
std::string Outcome(const outbox::Report& report) {
  if (report.state != outbox::State::Waiting) return FromServiceBytes(report.verdict);
  return std::string(ErrorName(report.lastError)) + ": " + FromAnsi(report.lastMessage);
}

nlohmann::json ReportToJson(const outbox::Report& report) {
  return {{"operation", report.operation},
          {"sale", SaleKey(report)},
          {"order_id", FromAnsi(report.orderId)},
          {"kept_since", report.keptAt},
          {"attempts", report.attempts},
          {"last_error", ErrorName(report.lastError)},
          {"last_message", FromAnsi(report.lastMessage)},
          {"state", outbox::StateName(report.state)},
          {"verdict", FromServiceBytes(report.verdict)}};
}

}  // namespace

int ListOutbox(const std::string& file, bool json, std::ostream& out) {
  const std::vector<outbox::Report> reports = Open(file).List(false);
  if (json) {
    nlohmann::json list = nlohmann::json::array();
    for (const outbox::Report& report : reports) list.push_back(ReportToJson(report));
    out << list.dump(2) << '\n';
    return 0;
  }
  for (const outbox::Report& report : reports) {
    out << report.keptAt << "  " << report.operation << "  " << SaleKey(report) << "  "
        << FromAnsi(report.orderId) << "  " << outbox::StateName(report.state) << "  "
        << report.attempts << " attempt" << (report.attempts == 1 ? "" : "s") << "  "
        << Outcome(report) << '\n';
  }
  if (reports.empty()) out << "the outbox is empty\n";
  return 0;
}

int SendOutbox(const std::string& file, std::int32_t max, std::ostream& out, std::ostream& err) {
  if (!std::filesystem::exists(file)) {
    err << "lumirex: the outbox '" << file << "' does not exist\n";
    return kExitOutboxUnreadable;
  }
  if (LumirexSetOutbox(file.c_str()) != 0) {
    err << "lumirex: " << FromAnsi(LastCall().message) << '\n';
    return kExitOutboxUnreadable;
  }
  const std::int32_t answered = LumirexOutboxSend(max);
  if (answered < 0) {
    err << "lumirex: " << FromAnsi(LastCall().message) << '\n';
    return kExitOutboxUnreadable;
  }
  const std::int32_t waiting = LumirexOutboxCount();
  out << answered << " report" << (answered == 1 ? "" : "s") << " answered, " << waiting
      << " waiting\n";
  if (waiting > 0 && LastCall().error != LUMIREX_OK) {
    out << "stopped: " << FromAnsi(LastCall().message) << '\n';
  }
  if (waiting < 0) return kExitOutboxUnreadable;
  return waiting == 0 ? kExitOutboxEmpty : kExitOutboxWaiting;
}

int DropFromOutbox(const std::string& file, const std::string& orderId, bool confirmed,
                   std::ostream& out) {
  if (!confirmed) {
    throw UsageError("dropping loses the report for good: add --yes to confirm");
  }
  const std::int64_t dropped = Open(file).Drop(orderId);
  out << dropped << " waiting report" << (dropped == 1 ? "" : "s") << " of order " << orderId
      << " dropped\n";
  return dropped > 0 ? 0 : 1;
}

}  // namespace lumirex::cli
