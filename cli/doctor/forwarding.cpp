#include <ctime>
#include <filesystem>

#include "cli/doctor/checks.hpp"
#include "outbox/outbox.hpp"
#include "support/path_text.hpp"
#include "support/system_clock_and_path.hpp"

namespace lumirex::cli::doctor {

namespace {

// Seconds since 1970 as this machine's local time, as the log and the
// outbox's listing write times.
std::string LocalTime(std::int64_t epoch) {
  const auto seconds = static_cast<std::time_t>(epoch);
  std::tm parts{};
#ifdef _WIN32
  if (localtime_s(&parts, &seconds) != 0) return std::to_string(epoch);
#else
  if (localtime_r(&seconds, &parts) == nullptr) return std::to_string(epoch);
#endif
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

std::string Forwarding(bool outboxSet) {
  const bool on = EnvironmentValue("LUMIREX_FORWARDING").value_or("") == "1";
  if (!on) {
    return "off for the command's calls; LUMIREX_FORWARDING=1 turns it on (a host turns it on "
           "with LumirexSetForwarding)";
  }
  return outboxSet ? "on for the command's calls (LUMIREX_FORWARDING=1)"
                   : "on for the command's calls, but with no outbox there is nothing to send";
}

// The service's state as the library last noted it in the outbox: a till
// whose host sees the service as offline answers sales at once and keeps
// them, and support reads here since when.
std::string ServiceNoted(const std::string& file) {
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(FileSystemPath(file), error))) {
    return "not noted yet";
  }
  std::optional<outbox::ServiceNote> note;
  try {
    note = outbox::Outbox(file, outbox::SqliteFile::Mode::Read).ServiceState();
  } catch (const std::exception&) {
    return "unknown: the outbox cannot be read (see above)";
  }
  if (!note) return "not noted yet: the library notes it when it changes, with forwarding on";
  std::string text = note->offlineSince != 0 ? "offline since " + LocalTime(note->offlineSince)
                                             : std::string("online");
  text +=
      note->lastAnswer != 0 ? ", last answer " + LocalTime(note->lastAnswer) : ", no answer yet";
  return text + " (as noted " + LocalTime(note->notedAt) + ")";
}

}  // namespace

// Said, never failed: the service check above tries the service now, while
// the note may be older than that.
Results CheckForwarding(const DoctorSettings& settings) {
  Results results{{"forwarding", true, Forwarding(settings.outbox.has_value()), ""}};
  if (settings.outbox) {
    results.push_back({"service state", true, ServiceNoted(settings.outbox->value), ""});
  }
  return results;
}

}  // namespace lumirex::cli::doctor
