#include "cli/outbox_command.hpp"

#include <filesystem>

#include <nlohmann/json.hpp>

#include "cli/call_runner.hpp"
#include "cli/display_text.hpp"
#include "cli/result_json.hpp"
#include "cli/usage_error.hpp"
#include "lumirex/lumirex.hpp"
#include "outbox/outbox.hpp"
#include "outbox/outbox_error.hpp"
#include "outbox/outbox_settings.hpp"
#include "support/log_format.hpp"
#include "support/path_text.hpp"
#include "support/processes.hpp"
#include "support/text.hpp"
#include "support/url.hpp"

namespace lumirex::cli {

// Looking never changes the file, nor creates one.
outbox::Outbox OpenOutbox(const std::string& file, outbox::SqliteFile::Mode mode) {
  if (!std::filesystem::exists(std::filesystem::symlink_status(FileSystemPath(file)))) {
    throw outbox::OutboxError("the outbox '" + file + "' does not exist");
  }
  return outbox::Outbox(file, mode);
}

namespace {

std::string SaleKey(const outbox::Report& report) {
  return report.branch + "/" + report.till + "/" + report.sequence;
}

// Where a waiting report would go if sent now from this command.
std::string Destination(const outbox::Report& report, const std::string& url) {
  std::string base = url.empty() ? report.url : url;
  if (base.empty() || base.back() != '/') base += '/';
  return base + report.path;
}

std::string WithSlash(std::string url) {
  if (url.empty() || url.back() != '/') url += '/';
  return url;
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
          {"sends_to", FromAnsi(MaskUrlPasswords(Destination(report, url)))},
          {"made_for", FromAnsi(MaskUrlPasswords(report.url))},
          {"dropped_at", report.droppedAt},
          {"dropped_by", FromAnsi(report.droppedBy)}};
}

bool Waits(const outbox::Report& report) {
  return report.state == outbox::State::Waiting || report.state == outbox::State::Held;
}

// " (made for URL)" when sending it now would take it to another service.
std::string OtherService(const outbox::Report& report, const std::string& url) {
  if (!MadeForAnotherService(report, url)) return {};
  return " (made for " + FromAnsi(report.url) + ")";
}

}  // namespace

bool MadeForAnotherService(const outbox::Report& report, const std::string& url) {
  return !url.empty() && WithSlash(report.url) != WithSlash(outbox::WithoutPassword(url));
}

// Written as each report is read: the memory used does not grow with the
// outbox.
int ListOutbox(const std::string& file, const ListOptions& options, std::ostream& out) {
  outbox::Outbox box = OpenOutbox(file, outbox::SqliteFile::Mode::Read);
  const outbox::Listing listing = options.all ? outbox::Listing::All : outbox::Listing::Current;
  bool any = false;
  if (options.json) {
    box.List(listing, [&](const outbox::Report& report) {
      // As nlohmann's dump(2) lays an array out, one element at a time.
      std::string element = ReportToJson(report, options.url).dump(2);
      for (std::size_t at = element.find('\n'); at != std::string::npos;
           at = element.find('\n', at + 3)) {
        element.replace(at, 1, "\n  ");
      }
      out << (any ? ",\n  " : "[\n  ") << element;
      any = true;
    });
    out << (any ? "\n]\n" : "[]\n");
    return 0;
  }
  box.List(listing, [&](const outbox::Report& report) {
    out << report.keptAt << "  " << report.operation << "  " << SaleKey(report) << "  "
        << FromAnsi(report.orderId) << "  " << outbox::StateName(report.state) << "  "
        << report.attempts << " attempt" << (report.attempts == 1 ? "" : "s") << "  "
        << Outcome(report);
    if (Waits(report)) {
      out << "  -> " << FromAnsi(MaskUrlPasswords(Destination(report, options.url)))
          << OtherService(report, options.url);
    }
    out << '\n';
    any = true;
  });
  if (!any) out << "the outbox is empty\n";
  return 0;
}

int SendOutbox(const std::string& file, const SendOptions& options, std::ostream& out,
               std::ostream& err) {
  if (!options.url.empty() && !HasHttpScheme(options.url)) {
    throw UsageError(NoHttpSchemeText(options.url));
  }
  if (!std::filesystem::exists(std::filesystem::symlink_status(FileSystemPath(file)))) {
    err << "lumirex: the outbox '" << file << "' does not exist\n";
    return kExitOutboxUnreadable;
  }
  if (!SetOutboxFile(file)) {
    err << "lumirex: " << FromServiceBytes(LastCall().message) << '\n';
    return kExitOutboxUnreadable;
  }
  if (options.held) {
    const std::int64_t released = OpenOutbox(file, outbox::SqliteFile::Mode::Write).Release();
    out << released << " held report" << (released == 1 ? "" : "s") << " sent again\n";
  }
  const std::int32_t answered =
      LumirexOutboxSendTo(options.url.empty() ? nullptr : options.url.c_str(), options.max);
  if (answered < 0) {
    err << "lumirex: " << FromAnsi(LastCall().message) << '\n';
    return kExitOutboxUnreadable;
  }
  const bool failed = LastCall().error != LUMIREX_OK;
  const std::string failure = FromAnsi(LastCall().message);
  const std::int32_t waiting = LumirexOutboxCount();
  out << answered << " report" << (answered == 1 ? "" : "s") << " answered, " << waiting
      << " waiting\n";
  if (waiting < 0) return kExitOutboxUnreadable;
  if (failed) out << "stopped: " << failure << '\n';
  const std::int64_t held = OpenOutbox(file, outbox::SqliteFile::Mode::Read).HeldCount();
  if (held > 0) {
    out << held
        << " held: 'lumirex outbox list' says why; once mended, 'lumirex outbox send "
           "--held', or 'lumirex outbox drop ORDER --yes'\n";
    return kExitOutboxHeld;
  }
  return failed ? kExitOutboxWaiting : kExitOutboxEmpty;
}

int DropFromOutbox(const std::string& file, const std::string& orderId, bool confirmed,
                   std::ostream& out) {
  if (!confirmed) {
    throw UsageError("dropping loses the report for good: add --yes to confirm");
  }
  const std::string user = ThisUserName();
  const outbox::Dropped result =
      OpenOutbox(file, outbox::SqliteFile::Mode::Write).Drop(orderId, user);
  if (result.sending > 0) {
    out << "nothing dropped: " << result.sending << " report" << (result.sending == 1 ? "" : "s")
        << " of order " << orderId << (result.sending == 1 ? " is" : " are")
        << " being sent now, and the service's verdict may still come; try again once "
           "'outbox list' no longer shows "
        << (result.sending == 1 ? "it" : "them") << " waiting\n";
    return 1;
  }
  const std::int64_t dropped = result.dropped;
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

int PruneOutbox(const std::string& file, std::int64_t days, std::ostream& out) {
  if (days < 1) days = outbox::KeepDays();
  const std::int64_t removed = OpenOutbox(file, outbox::SqliteFile::Mode::Write).Prune(days);
  out << removed << " report" << (removed == 1 ? "" : "s") << " settled more than " << days
      << " day" << (days == 1 ? "" : "s") << " ago removed\n";
  return 0;
}

}  // namespace lumirex::cli
