// `lumirex outbox list|send|drop|prune` (metrics: outbox_metrics.hpp): the sale and cancellation
// reports kept while the service could not be reached.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "outbox/outbox.hpp"

namespace lumirex::cli {

// The outbox at `file`, which must exist: no subcommand makes one.
outbox::Outbox OpenOutbox(const std::string& file, outbox::SqliteFile::Mode mode);

// Exit statuses of `outbox send`: every report tried got a verdict (some may
// still wait: claimed by a call in flight, or beyond --max); a resend failed
// and reports still wait; the outbox could not be read; reports are held,
// which only support can settle. A timer's unit accepts only the first.
constexpr int kExitOutboxEmpty = 0;
constexpr int kExitOutboxWaiting = 1;
constexpr int kExitOutboxUnreadable = 2;
constexpr int kExitOutboxHeld = 3;

// Whether the report was made for another service than `url` (its password
// and a trailing slash aside): sent with `url` named, it goes to `url`.
bool MadeForAnotherService(const outbox::Report& report, const std::string& url);

struct ListOptions {
  bool json = false;
  bool all = false;  // dropped reports too
  std::string url;   // where the reports would go; empty: each one's own
};

// Every report, oldest first, as words or JSON, with where each waiting one
// would be sent. Reads without changing the file. Returns 0, or 2 when the
// file cannot be read.
int ListOutbox(const std::string& file, const ListOptions& options, std::ostream& out);

struct SendOptions {
  std::int32_t max = 0;  // all when below 1
  std::string url;       // the base URL to send to; empty: each one's own
  bool held = false;     // held reports go too, one more round
};

// Sends waiting reports through the library.
int SendOutbox(const std::string& file, const SendOptions& options, std::ostream& out,
               std::ostream& err);

// Drops the waiting and held reports of an order, keeping a record of it in
// the outbox and a line in the log; refuses without `confirmed`, and while
// one of them is being sent.
int DropFromOutbox(const std::string& file, const std::string& orderId, bool confirmed,
                   std::ostream& out);

// Removes the reports settled more than `days` ago (below 1: the setting's).
int PruneOutbox(const std::string& file, std::int64_t days, std::ostream& out);

}  // namespace lumirex::cli
