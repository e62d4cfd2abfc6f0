#include "cli/outbox_command.hpp"

#include <filesystem>

#include <nlohmann/json.hpp>

#include "cli/display_text.hpp"
#include "cli/result_json.hpp"
#include "cli/usage_error.hpp"
#include "lumirex/lumirex.hpp"
#include "outbox/outbox.hpp"
#include "outbox/outbox_error.hpp"
#include "support/log_format.hpp"
#include "support/processes.hpp"
#include "support/text.hpp"

namespace lumirex::cli {

namespace {

// Looking never changes the file, nor creates one.
outbox::Outbox Open(const std::string& file, outbox::SqliteFile::Mode mode) {
  if (!std::filesystem::exists(std::filesystem::symlink_status(file))) {
    throw outbox::OutboxError("the outbox '" + file + "' does not exist");
  }
  return outbox::Outbox(file, mode);
}

std::string SaleKey(const outbox::Report& report) {
  return report.branch + "/" + report.till + "/" + report.sequence;
}

// Where a waiting report would go if sent now from this command.
std::string Destination(const outbox::Report& report, const std::string& url) {
  std::string base = url.empty() ? report.url : url;
  if (base.empty() || base.back() != '/') base += '/';
  return base + report.path;
}

// What support reads first: the verdict once there is one, else the last failure.
std::string Outcome(const outbox::Report& report) {
  switch (report.state) {
    case outbox::State::Accepted:
    case outbox::State::Declined: {
      std::string text = FromServiceBytes(report.verdict);
      if (report.repeat) {
        text +=
            " (after an attempt that may have arrived: a refusal as a repeat means the "
            "service already had it)";
      }
      return text;
    }
    case outbox::State::Dropped:
      return "dropped " + report.droppedAt + " by " + FromAnsi(report.droppedBy);
    case outbox::State::Held:
    case outbox::State::Waiting:
      break;
  }
  std::string text = std::string(ErrorName(report.lastError)) + ": " + FromAnsi(report.lastMessage);
  if (report.sent) text += " (an earlier attempt may have arrived)";
  return text;
}

nlohmann::json ReportToJson(const outbox::Report& report, const std::string& url) {
  return {{"operation", report.operation},
          {"sale", SaleKey(report)},
          {"order_id", FromAnsi(report.orderId)},
          {"kept_since", report.keptAt},
          {"attempts", report.attempts},
          {"last_error", ErrorName(report.lastError)},
          {"last_message", FromAnsi(report.lastMessage)},
          {"state", outbox::StateName(report.state)},
          {"verdict", FromServiceBytes(report.verdict)},
          {"may_have_arrived", report.sent},
          {"repeat", report.repeat},
          {"sends_to", FromAnsi(Destination(report, url))},
          {"dropped_at", report.droppedAt},
          {"dropped_by", FromAnsi(report.droppedBy)}};
}

bool Waits(const outbox::Report& report) {
  return report.state == outbox::State::Waiting || report.state == outbox::State::Held;
}

}  // namespace

int ListOutbox(const std::string& file, const ListOptions& options, std::ostream& out) {
  const std::vector<outbox::Report> reports =
      Open(file, outbox::SqliteFile::Mode::Read)
          .List(options.all ? outbox::Listing::All : outbox::Listing::Current);
  if (options.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const outbox::Report& report : reports) list.push_back(ReportToJson(report, options.url));
    out << list.dump(2) << '\n';
    return 0;
  }
  for (const outbox::Report& report : reports) {
    out << report.keptAt << "  " << report.operation << "  " << SaleKey(report) << "  "
        << FromAnsi(report.orderId) << "  " << outbox::StateName(report.state) << "  "
        << report.attempts << " attempt" << (report.attempts == 1 ? "" : "s") << "  "
        << Outcome(report);
    if (Waits(report))
      out << "  -> " << FromAnsi(MaskUrlPasswords(Destination(report, options.url)));
    out << '\n';
  }
  if (reports.empty()) out << "the outbox is empty\n";
  return 0;
}

int SendOutbox(const std::string& file, const SendOptions& options, std::ostream& out,
               std::ostream& err) {
  if (!std::filesystem::exists(std::filesystem::symlink_status(file))) {
    err << "lumirex: the outbox '" << file << "' does not exist\n";
    return kExitOutboxUnreadable;
  }
  if (LumirexSetOutbox(file.c_str()) != 0) {
    err << "lumirex: " << FromAnsi(LastCall().message) << '\n';
    return kExitOutboxUnreadable;
  }
  if (options.held) {
    const std::int64_t released = Open(file, outbox::SqliteFile::Mode::Write).Release();
    out << released << " held report" << (released == 1 ? "" : "s") << " sent again\n";
  }
  const std::int32_t answered =
      LumirexOutboxSendTo(options.url.empty() ? nullptr : options.url.c_str(), options.max);
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
  const std::string user = ThisUserName();
  const std::int64_t dropped = Open(file, outbox::SqliteFile::Mode::Write).Drop(orderId, user);
  if (dropped > 0) {
    // The log says it too: support reading a till's day sees the report go.
    const std::string line = std::string(log_format::kOutbox) + std::to_string(dropped) +
                             " waiting report(s) of order " + orderId + " dropped by " + user;
    char error[256] = {};
    if (LumirexLog(line.data(), line.size(), error, sizeof error) != 0) {
      out << "not logged: " << FromAnsi(error) << '\n';
    }
  }
  out << dropped << " waiting report" << (dropped == 1 ? "" : "s") << " of order " << orderId
      << " dropped; 'outbox list --all' shows " << (dropped == 1 ? "it" : "them") << '\n';
  return dropped > 0 ? 0 : 1;
}

}  // namespace lumirex::cli
