// Whether the outbox is on, where its file is, how many reports it holds,
// and how long it keeps the settled ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumirex::outbox {

// Waiting reports beyond this many are refused; nothing kept is dropped.
inline constexpr std::int64_t kDefaultLimit = 10000;
// Answered, declined and dropped reports stay on record this many days.
inline constexpr std::int64_t kDefaultKeepDays = 30;

// The file set by the host, else $LUMIREX_OUTBOX; none means the outbox is off.
std::optional<std::string> File();
void SetFile(std::optional<std::string> file);

std::int64_t Limit();
// Refuses (false) a limit below 1.
bool SetLimit(std::int64_t limit);

// The days set by the host, else $LUMIREX_OUTBOX_KEEP_DAYS when it is a
// whole number of at least 1, else kDefaultKeepDays.
std::int64_t KeepDays();
// Refuses (false) fewer than 1 day.
bool SetKeepDays(std::int64_t days);

}  // namespace lumirex::outbox
