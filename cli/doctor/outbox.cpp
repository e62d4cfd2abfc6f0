#include <filesystem>

#include "cli/doctor/checks.hpp"
#include "cli/outbox_command.hpp"
#include "outbox/outbox.hpp"
#include "support/path_text.hpp"

namespace lumirex::cli::doctor {

// The outbox when one is set: it opens read-only (never created or changed
// here), how many reports wait, since when the oldest has, and whether any
// is held, which only support can settle.
Results CheckOutbox(const DoctorSettings& settings) {
  if (!settings.outbox) return {{"outbox", true, "not used: no --outbox or LUMIREX_OUTBOX", ""}};
  const Setting& outbox = *settings.outbox;
  std::error_code error;
  if (!std::filesystem::exists(
          std::filesystem::symlink_status(FileSystemPath(outbox.value), error))) {
    // The library makes it at the first report it keeps.
    return {{"outbox", true, outbox.value + " not made yet: nothing was ever kept", ""}};
  }
  try {
    lumirex::outbox::Outbox box(outbox.value, lumirex::outbox::SqliteFile::Mode::Read);
    const lumirex::outbox::Waiting waiting = box.Summary();
    std::string detail = outbox.value + ": " + std::to_string(waiting.count) + " waiting";
    if (waiting.count > 0) detail += ", the oldest since " + waiting.oldestKeptAt;
    // How kept reports ended, for a till restarted since: the file keeps count.
    const lumirex::outbox::Tallies ended = box.Totals();
    detail += "; ended since the file was made: " + std::to_string(ended.accepted) + " accepted, " +
              std::to_string(ended.declined) + " refused, " + std::to_string(ended.held) +
              " held, " + std::to_string(ended.dropped) + " dropped";
    const std::int64_t held = waiting.held;
    std::int64_t elsewhere = 0;  // made for another service than the one set here
    if (settings.url && waiting.count > 0) {
      // Read a few at a time: the doctor's memory does not grow with the backlog.
      box.List(lumirex::outbox::Listing::Waiting, [&](const lumirex::outbox::Report& report) {
        elsewhere += MadeForAnotherService(report, settings.url->value);
      });
    }
    if (elsewhere > 0) {
      detail += "; " + std::to_string(elsewhere) +
                " made for another service than the URL set here, and sent to it";
    }
    if (held == 0 && elsewhere == 0) return {{"outbox", true, detail, ""}};
    if (held == 0) {
      return {{"outbox", false, detail,
               "see 'lumirex outbox list --url URL' for which; if that service moved to the URL "
               "set here, 'lumirex outbox send --url URL' sends them there"}};
    }
    return {{"outbox", false,
             detail + "; " + std::to_string(held) + " held: failed " +
                 std::to_string(lumirex::outbox::kHeldAttempts) +
                 " times or more over a day, and no longer sent",
             "see 'lumirex outbox list' for why; once mended, 'lumirex outbox send --held', or "
             "'lumirex outbox drop ORDER --yes' to give a report up (on record)"}};
  } catch (const std::exception& failure) {
    return {{"outbox", false, failure.what(),
             outbox.PointsAt("") + ", which cannot be used as an outbox; " +
                 outbox.Change("a lumirex outbox file, or a new path the till can write")}};
  }
}

}  // namespace lumirex::cli::doctor
