#include <filesystem>

#include "cli/doctor_checks.hpp"
#include "outbox/outbox.hpp"

namespace lumirex::cli::doctor {

// The outbox when one is set: it opens (never created here), how many
// reports wait, and since when the oldest has.
Results CheckOutbox(const DoctorSettings& settings) {
  if (!settings.outbox) return {{"outbox", true, "not used: no --outbox or LUMIREX_OUTBOX", ""}};
  const Setting& outbox = *settings.outbox;
  if (!std::filesystem::exists(outbox.value)) {
    // The library makes it at the first report it keeps.
    return {{"outbox", true, outbox.value + " not made yet: nothing was ever kept", ""}};
  }
  try {
    const std::vector<lumirex::outbox::Report> waiting =
        lumirex::outbox::Outbox(outbox.value).List(true);
    std::string detail = outbox.value + ": " + std::to_string(waiting.size()) + " waiting";
    if (!waiting.empty()) detail += ", the oldest since " + waiting.front().keptAt;
    return {{"outbox", true, detail, ""}};
  } catch (const std::exception& error) {
    return {{"outbox", false, error.what(),
             outbox.PointsAt("") + ", which cannot be used as an outbox; " +
                 outbox.Change("a SQLite file the till can write")}};
  }
}

}  // namespace lumirex::cli::doctor
