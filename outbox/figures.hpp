// What the outbox file tells a process other than the till's host beyond its
// reports: how the reports ended since the file was made, and the service's
// state as the library last saw it. The command, the doctor and the fleet's
// figures read them without the library running.
#pragma once

#include <cstdint>
#include <optional>

#include "outbox/sqlite_file.hpp"

namespace lumirex::outbox {

enum class State;

// Reports that ended each way, counted as it happens and never reduced by
// pruning. `held` counts each time a report was set aside (one sent again
// and held again counts twice). A file made before these counts began starts
// from the reports it held then; `sinceEpoch` says when counting began.
struct Tallies {
  std::int64_t accepted = 0, declined = 0, dropped = 0, held = 0;
  std::int64_t sinceEpoch = 0;  // seconds since 1970
};

// The service as the library last saw it, in seconds since 1970.
struct ServiceNote {
  std::int64_t lastAnswer = 0;    // 0: no answer yet
  std::int64_t offlineSince = 0;  // 0: online
  std::int64_t notedAt = 0;
};

// The tables of both, made when missing, inside the caller's write
// transaction. The counts start from the reports the file holds now: zeroes
// for a new file, what an earlier version's file has on record otherwise.
void MakeFigureTables(SqliteFile& file, std::int64_t now);

// Counts `reports` more that ended in `state` (nothing for Waiting), inside
// the caller's write transaction.
void Tally(SqliteFile& file, State state, std::int64_t reports);

Tallies ReadTallies(SqliteFile& file);
void WriteServiceNote(SqliteFile& file, const ServiceNote& note);
std::optional<ServiceNote> ReadServiceNote(SqliteFile& file);

}  // namespace lumirex::outbox
