// Whether the outbox is on, where its file is, and how many reports it holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumirex::outbox {

// Waiting reports beyond this many are refused; nothing kept is dropped.
inline constexpr std::int64_t kDefaultLimit = 10000;

// The file set by the host, else $LUMIREX_OUTBOX; none means the outbox is off.
std::optional<std::string> File();
void SetFile(std::optional<std::string> file);

std::int64_t Limit();
// Refuses (false) a limit below 1.
bool SetLimit(std::int64_t limit);

}  // namespace lumirex::outbox
