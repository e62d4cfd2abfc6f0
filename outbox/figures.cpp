#include "outbox/figures.hpp"

#include <mutex>
#include <string>

#include "outbox/outbox.hpp"

namespace lumirex::outbox {

namespace {

// One row each: the counts, and the latest note of the service's state.
constexpr const char* kFigureTables =
    "CREATE TABLE IF NOT EXISTS tally ("
    "  id INTEGER PRIMARY KEY CHECK (id = 1), accepted INTEGER NOT NULL,"
    "  declined INTEGER NOT NULL, dropped INTEGER NOT NULL, held INTEGER NOT NULL,"
    "  since_epoch INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS service ("
    "  id INTEGER PRIMARY KEY CHECK (id = 1), last_answer INTEGER NOT NULL,"
    "  offline_since INTEGER NOT NULL, noted_at INTEGER NOT NULL);";

}  // namespace

void MakeFigureTables(SqliteFile& file, std::int64_t now) {
  file.Execute(kFigureTables);
  file.Prepare(
          "INSERT OR IGNORE INTO tally (id, accepted, declined, dropped, held, since_epoch)"
          " SELECT 1, TOTAL(state = 'accepted'), TOTAL(state = 'declined'),"
          " TOTAL(state = 'dropped'), TOTAL(state = 'held'), ? FROM report")
      .Bind(1, now)
      .Step();
}

void Tally(SqliteFile& file, State state, std::int64_t reports) {
  if (state == State::Waiting || reports == 0) return;
  // The column is one of the state names, never a text from outside.
  const std::string column = StateName(state);
  file.Prepare(("UPDATE tally SET " + column + " = " + column + " + ? WHERE id = 1").c_str())
      .Bind(1, reports)
      .Step();
}

Tallies ReadTallies(SqliteFile& file) {
  Statement query =
      file.Prepare("SELECT accepted, declined, dropped, held, since_epoch FROM tally WHERE id = 1");
  if (!query.Step()) return {};
  return Tallies{query.Integer(0), query.Integer(1), query.Integer(2), query.Integer(3),
                 query.Integer(4)};
}

void WriteServiceNote(SqliteFile& file, const ServiceNote& note) {
  file.Prepare(
          "INSERT OR REPLACE INTO service (id, last_answer, offline_since, noted_at)"
          " VALUES (1, ?, ?, ?)")
      .Bind(1, note.lastAnswer)
      .Bind(2, note.offlineSince)
      .Bind(3, note.notedAt)
      .Step();
}

std::optional<ServiceNote> ReadServiceNote(SqliteFile& file) {
  Statement query =
      file.Prepare("SELECT last_answer, offline_since, noted_at FROM service WHERE id = 1");
  if (!query.Step()) return std::nullopt;
  return ServiceNote{query.Integer(0), query.Integer(1), query.Integer(2)};
}

// A read-only opening of a file from before the figures has neither table:
// nothing counted, nothing noted.
Tallies Outbox::Totals() {
  std::lock_guard gate(OutboxFileLock());
  return noFigures_ ? Tallies{} : ReadTallies(file_);
}

void Outbox::NoteService(const ServiceNote& note) {
  std::lock_guard gate(OutboxFileLock());
  WriteServiceNote(file_, note);
}

std::optional<ServiceNote> Outbox::ServiceState() {
  std::lock_guard gate(OutboxFileLock());
  if (noFigures_) return std::nullopt;
  return ReadServiceNote(file_);
}

}  // namespace lumirex::outbox
