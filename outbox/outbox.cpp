#include "outbox/outbox.hpp"

#include <algorithm>
#include <ctime>
#include <mutex>

#include "outbox/outbox_error.hpp"
#include "outbox/outbox_file.hpp"
#include "outbox/outbox_settings.hpp"
#include "support/datetime.hpp"
#include "support/no_destructor.hpp"
#include "support/operations.hpp"
#include "support/processes.hpp"
#include "support/text.hpp"

namespace lumirex::outbox {

namespace {

// "LMRX": marks a file as a lumirex outbox, so that no other SQLite file
// named by mistake (the point-of-sale database, say) is ever changed.
constexpr std::int64_t kApplicationId = 0x4C4D5258;

// Keeping a report waits at most about a second for a sender's short
// transaction; no transaction spans an exchange with the service.
constexpr int kBusyMilliseconds = 1000;

// Pages of the WAL after which a commit copies it into the file and the next
// one starts it over, and the bytes its file is cut back to then. Small, so
// that a nearly full disk holds reports rather than an old WAL: a report
// writes about six pages, so one commit in ten or so copies.
constexpr const char* kWalBounds =
    "PRAGMA wal_autocheckpoint = 64; PRAGMA journal_size_limit = 262144;";
// A WAL that grew beyond this many pages all the same (a reader held it) is
// emptied at the start of a sending round.
constexpr int kWalFrames = 1024;

// The version of the tables below and of the figures' (outbox/figures.cpp:
// 3 added them); an older file is brought up to it when first opened for
// writing.
constexpr std::int64_t kSchemaVersion = 3;

// Reports are read and handed on this many at a time.
constexpr std::int64_t kListBatch = 128;

constexpr const char* kTables =
    "CREATE TABLE IF NOT EXISTS report ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  operation BLOB NOT NULL, cpf BLOB, branch BLOB, till BLOB, sequence BLOB,"
    "  order_id BLOB NOT NULL, url BLOB NOT NULL, method BLOB NOT NULL, body BLOB NOT NULL,"
    "  document BLOB, kept_at TEXT NOT NULL, attempts INTEGER NOT NULL,"
    "  last_error INTEGER NOT NULL, last_message BLOB,"
    "  state TEXT NOT NULL DEFAULT 'waiting', verdict BLOB);"
    "CREATE TABLE IF NOT EXISTS attempt ("
    "  report_id INTEGER NOT NULL REFERENCES report (id), at TEXT NOT NULL,"
    "  error INTEGER NOT NULL, message BLOB);";

// Columns added since the first outbox files; an older file gets them when
// it is first opened for writing.
struct Added {
  const char* name;
  const char* definition;
  const char* unknown;  // what a read-only opening of an older file reads
};
constexpr Added kAdded[] = {
    {"path", "BLOB", "NULL"},
    {"sent", "INTEGER NOT NULL DEFAULT 0", "0"},
    {"repeat", "INTEGER NOT NULL DEFAULT 0", "0"},
    {"claimed_until", "INTEGER NOT NULL DEFAULT 0", "0"},
    {"claimed_by", "INTEGER NOT NULL DEFAULT 0", "0"},
    {"kept_epoch", "INTEGER NOT NULL DEFAULT 0", "0"},
    {"dropped_at", "TEXT", "NULL"},
    {"dropped_by", "BLOB", "NULL"},
    // Who claims: a process of a boot (and process namespace), by its start;
    // until when by the boot's clock.
    {"claimed_start", "INTEGER NOT NULL DEFAULT 0", "0"},
    {"claimed_boot", "BLOB NOT NULL DEFAULT ''", "''"},
    {"claimed_until_boot", "INTEGER NOT NULL DEFAULT 0", "0"},
    {"settled_epoch", "INTEGER NOT NULL DEFAULT 0", "0"},
};
// Read into a Report: the columns up to `dropped_by`.
constexpr std::size_t kReadAdded = 8;

constexpr const char* kIndexes =
    "CREATE INDEX IF NOT EXISTS report_waiting ON report (state, id);"
    "CREATE INDEX IF NOT EXISTS report_order ON report (order_id, state);"
    "CREATE INDEX IF NOT EXISTS report_claimed ON report (claimed_until) WHERE claimed_until > 0;"
    "CREATE INDEX IF NOT EXISTS attempt_report ON attempt (report_id);";

// A claim that holds at the moment bound to ?1 (wall clock), ?2 (the boot's
// clock) and ?3 (the boot): by the boot's clock when it was made in this
// boot, else by the wall clock, the only one shared.
constexpr const char* kLiveClaim =
    " (claimed_until > 0 AND CASE WHEN length(?3) > 0 AND claimed_boot = ?3"
    " THEN claimed_until_boot > ?2 ELSE claimed_until > ?1 END)";

constexpr const char* kSettled = " state IN ('accepted', 'declined', 'dropped')";

constexpr const char* kColumns =
    "id, operation, cpf, branch, till, sequence, order_id, url, method, body, document, kept_at,"
    " attempts, last_error, last_message, state, verdict";

// Every use of SQLite here holds this lock, and fork() waits for it (see
// OutboxFileLock).
std::mutex& ForkGate() {
  return OutboxFileLock();
}

std::string LocalTimeText() {
  const DateTimeParts now = DecodeDateTime(Now());
  std::string text;
  AppendZeroPadded(text, now.year, 4);
  text += '-';
  AppendZeroPadded(text, now.month, 2);
  text += '-';
  AppendZeroPadded(text, now.day, 2);
  text += 'T';
  AppendTimeOfDay(text, now);
  return text;
}

State StateOf(const std::string& name) {
  for (State state : {State::Held, State::Accepted, State::Declined, State::Dropped}) {
    if (name == StateName(state)) return state;
  }
  return State::Waiting;
}

// The tail of a report kept before its path was: the operation's row tells it.
std::string PathOf(const std::string& operation) {
  const Operation* row = OperationNamed(operation);
  return UrlTail(row != nullptr ? *row : OperationOf(OperationId::SaleReport));
}

// An earlier version's whole URL: the base, without its path and password.
std::string BaseOf(std::string url, const std::string& path) {
  if (url.size() >= path.size() && url.compare(url.size() - path.size(), path.size(), path) == 0) {
    url.resize(url.size() - path.size());
  }
  return WithoutPassword(url);
}

Report ReadReport(const Statement& row) {
  Report report;
  report.id = row.Integer(0);
  report.operation = row.Text(1);
  report.cpf = row.Text(2);
  report.branch = row.Text(3);
  report.till = row.Text(4);
  report.sequence = row.Text(5);
  report.orderId = row.Text(6);
  report.url = row.Text(7);
  report.method = row.Text(8);
  report.body = row.Text(9);
  report.document = row.Text(10);
  report.keptAt = row.Text(11);
  report.attempts = row.Integer(12);
  report.lastError = static_cast<std::int32_t>(row.Integer(13));
  report.lastMessage = row.Text(14);
  report.state = StateOf(row.Text(15));
  report.verdict = row.Text(16);
  report.path = row.Text(17);
  if (report.path.empty()) {  // an earlier version's, read without taking it up
    report.path = PathOf(report.operation);
    report.url = BaseOf(report.url, report.path);
  }
  // 1: an earlier attempt may have arrived; 2: the one claimed now may.
  report.sent = row.Integer(18) != 0;
  report.repeat = row.Integer(19) != 0;
  report.droppedAt = row.Text(20);
  report.droppedBy = row.Text(21);
  return report;
}

bool HasColumn(SqliteFile& file, const char* table, std::string_view column) {
  Statement info =
      file.Prepare((std::string("SELECT name FROM pragma_table_info('") + table + "')").c_str());
  while (info.Step()) {
    if (info.Text(0) == column) return true;
  }
  return false;
}

// Which tables the file holds, outside SQLite's own.
std::int64_t Version(SqliteFile& file) {
  Statement version = file.Prepare("PRAGMA user_version");
  version.Step();
  return version.Integer(0);
}

std::vector<std::string> Tables(SqliteFile& file) {
  Statement query = file.Prepare(
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'"
      " ORDER BY name");
  std::vector<std::string> names;
  while (query.Step()) names.push_back(query.Text(0));
  return names;
}

// nullopt when the report is no longer in the file.
std::optional<State> StateNow(SqliteFile& file, std::int64_t id) {
  Statement query = file.Prepare("SELECT state FROM report WHERE id = ?");
  if (!query.Bind(1, id).Step()) return std::nullopt;
  return StateOf(query.Text(0));
}

std::string Where(Listing listing) {
  return listing == Listing::Waiting   ? " AND state IN ('waiting', 'held')"
         : listing == Listing::Current ? " AND state <> 'dropped'"
                                       : "";
}

}  // namespace

std::int64_t Clock::Wall() const {
  return static_cast<std::int64_t>(std::time(nullptr));
}

std::int64_t Clock::SinceBoot() const {
  return SecondsSinceBoot();
}

std::string Clock::Boot() const {
  return ThisBoot();
}

struct Outbox::Now {
  std::int64_t wall = 0;
  std::int64_t sinceBoot = 0;
  std::string boot;

  void Bind(Statement& statement) const {
    statement.Bind(1, wall).Bind(2, sinceBoot).Bind(3, boot);
  }
};

const Clock& Outbox::SystemClock() {
  static const Clock clock;
  return clock;
}

Outbox::Now Outbox::Moment() const {
  return Now{clock_->Wall(), clock_->SinceBoot(), clock_->Boot()};
}

std::string WithoutPassword(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const std::size_t start = scheme + 3;
  const std::size_t end = url.find_first_of("/?#", start);
  const std::size_t at = url.rfind('@', end == std::string::npos ? std::string::npos : end);
  if (at == std::string::npos || at < start) return url;
  const std::size_t colon = url.find(':', start);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon) + url.substr(at);
}

const char* StateName(State state) {
  switch (state) {
    case State::Held:
      return "held";
    case State::Accepted:
      return "accepted";
    case State::Declined:
      return "declined";
    case State::Dropped:
      return "dropped";
    case State::Waiting:
      break;
  }
  return "waiting";
}

Outbox::Outbox(const std::string& file, SqliteFile::Mode mode, const Clock& clock)
    : clock_(&clock), file_([&] {
        std::lock_guard gate(ForkGate());
        return SqliteFile(file, mode);
      }()) {
  std::lock_guard gate(ForkGate());
  try {
    SetUp(mode);
  } catch (...) {
    file_.Close();
    throw;
  }
}

Outbox::~Outbox() {
  std::lock_guard gate(ForkGate());
  file_.Close();
}

// Nothing is written before the file is known to be an outbox: ours by its
// application id, an outbox of an earlier version by its tables, or empty.
void Outbox::SetUp(SqliteFile::Mode mode) {
  file_.SetBusyTimeout(kBusyMilliseconds);
  const std::int64_t applicationId = [this] {
    Statement id = file_.Prepare("PRAGMA application_id");
    id.Step();
    return id.Integer(0);
  }();
  const std::vector<std::string> tables = Tables(file_);
  const bool ours = applicationId == kApplicationId;
  const bool earlier =
      applicationId == 0 && tables == std::vector<std::string>{"attempt", "report"};
  const bool empty = applicationId == 0 && tables.empty();
  if (!ours && !earlier && !empty) {
    throw OutboxError("the outbox '" + file_.Path() +
                      "' cannot be used: it is another SQLite file, not a lumirex outbox");
  }
  if (mode == SqliteFile::Mode::Read) {
    empty_ = empty;
    legacy_ = !empty && !HasColumn(file_, "report", kAdded[0].name);
    noFigures_ = std::find(tables.begin(), tables.end(), "tally") == tables.end();
    return;
  }
  file_.ExecuteAndKeep("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;");
  file_.ExecuteAndKeep(kWalBounds);
  if (ours && Version(file_) >= kSchemaVersion) return;
  // Made by an earlier version, the file may be readable by every user of
  // the machine, with customers' CPFs in it.
  KeepPrivate(file_.Path());
  WriteTransaction transaction(file_);
  file_.Execute(kTables);
  for (const Added& column : kAdded) {
    if (HasColumn(file_, "report", column.name)) continue;
    file_.Execute(
        (std::string("ALTER TABLE report ADD COLUMN ") + column.name + " " + column.definition)
            .c_str());
  }
  file_.Execute(kIndexes);
  MakeFigureTables(file_, clock_->Wall());
  SplitEarlierUrls();
  file_.Execute(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
  file_.Execute(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
  transaction.Commit();
}

// Reports of an earlier version kept their whole URL, password included:
// from now on the base URL without password, and the path apart.
void Outbox::SplitEarlierUrls() {
  std::vector<std::pair<std::int64_t, std::string>> urls;
  {
    Statement query = file_.Prepare("SELECT id, url, operation FROM report WHERE path IS NULL");
    while (query.Step()) {
      urls.emplace_back(query.Integer(0), BaseOf(query.Text(1), PathOf(query.Text(2))));
    }
  }
  for (const auto& [id, url] : urls) {
    file_.Prepare("UPDATE report SET url = ? WHERE id = ?").Bind(1, url).Bind(2, id).Step();
  }
}

std::string Outbox::Columns() {
  std::string columns = kColumns;
  for (std::size_t index = 0; index < kReadAdded; ++index) {
    const Added& column = kAdded[index];
    if (std::string_view(column.name) == "claimed_until" ||
        std::string_view(column.name) == "claimed_by" ||
        std::string_view(column.name) == "kept_epoch") {
      continue;
    }
    columns += std::string(", ") + (legacy_ ? column.unknown : column.name);
  }
  return columns;
}

std::int64_t Outbox::Keep(const Report& report, std::int64_t limit, bool claimed) {
  std::lock_guard gate(ForkGate());
  const Now now = Moment();
  WriteTransaction transaction(file_);
  {
    // Counted up to the limit only: the cost of a keep does not grow with
    // the waiting line.
    Statement count = file_.Prepare(
        "SELECT COUNT(*) FROM (SELECT 1 FROM report WHERE state IN ('waiting', 'held') LIMIT ?)");
    count.Bind(1, limit).Step();
    if (count.Integer(0) >= limit) {
      throw OutboxError("the outbox '" + file_.Path() + "' is full: " + std::to_string(limit) +
                        " reports wait already");
    }
  }
  // Claimed, it is on its way: counted as its first attempt, which may
  // arrive even if this process dies before it hears back.
  file_
      .Prepare(
          "INSERT INTO report (operation, cpf, branch, till, sequence, order_id, url, path,"
          " method, body, document, kept_at, kept_epoch, attempts, last_error, last_message,"
          " sent, claimed_until, claimed_by, claimed_start, claimed_boot, claimed_until_boot)"
          " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
      .Bind(1, report.operation)
      .Bind(2, report.cpf)
      .Bind(3, report.branch)
      .Bind(4, report.till)
      .Bind(5, report.sequence)
      .Bind(6, report.orderId)
      .Bind(7, report.url)
      .Bind(8, report.path)
      .Bind(9, report.method)
      .Bind(10, report.body)
      .Bind(11, report.document)
      .Bind(12, LocalTimeText())
      .Bind(13, now.wall)
      .Bind(14, std::int64_t{claimed ? 1 : report.attempts})
      .Bind(15, std::int64_t{report.lastError})
      .Bind(16, report.lastMessage)
      .Bind(17, std::int64_t{claimed ? 2 : 0})
      .Bind(18, claimed ? now.wall + kClaimSeconds : 0)
      .Bind(19, claimed ? ThisProcessId() : 0)
      .Bind(20, claimed ? ProcessStartTime(ThisProcessId()) : 0)
      .Bind(21, claimed ? now.boot : std::string())
      .Bind(22, claimed ? now.sinceBoot + kClaimSeconds : 0)
      .Step();
  const std::int64_t id = file_.LastInsertId();
  transaction.Commit();
  return id;
}

std::optional<std::int32_t> Outbox::WaitingError(std::string_view orderId) {
  if (orderId.empty()) return std::nullopt;
  std::lock_guard gate(ForkGate());
  Statement query = file_.Prepare(
      "SELECT last_error FROM report WHERE state IN ('waiting', 'held') AND order_id = ?"
      " ORDER BY id DESC LIMIT 1");
  if (!query.Bind(1, orderId).Step()) return std::nullopt;
  return static_cast<std::int32_t>(query.Integer(0));
}

Waiting Outbox::Summary() {
  std::lock_guard gate(ForkGate());
  if (empty_) return {};
  // A file from before the epoch column was added says only its text.
  const std::string sql =
      std::string(
          "SELECT COUNT(*), TOTAL(state = 'held'), oldest.kept_at, oldest.epoch"
          " FROM report LEFT JOIN (SELECT kept_at, ") +
      (legacy_ ? "0" : "kept_epoch") +
      " AS epoch FROM report WHERE state IN ('waiting', 'held') ORDER BY id LIMIT 1) AS oldest"
      " WHERE state IN ('waiting', 'held')";
  Statement query = file_.Prepare(sql.c_str());
  query.Step();
  return Waiting{query.Integer(0), query.Integer(1), query.Text(2), query.Integer(3)};
}

void Outbox::List(Listing listing, const std::function<void(const Report&)>& each) {
  const std::string sql = "SELECT " + Columns() + " FROM report WHERE id > ?" + Where(listing) +
                          " ORDER BY id LIMIT " + std::to_string(kListBatch);
  for (std::int64_t after = 0;;) {
    std::vector<Report> batch;
    {
      std::lock_guard gate(ForkGate());
      if (empty_) return;
      Statement query = file_.Prepare(sql.c_str());
      query.Bind(1, after);
      while (query.Step()) batch.push_back(ReadReport(query));
    }
    for (const Report& report : batch) each(report);
    if (batch.size() < static_cast<std::size_t>(kListBatch)) return;
    after = batch.back().id;
  }
}

std::vector<Report> Outbox::List(Listing listing) {
  std::vector<Report> reports;
  List(listing, [&](const Report& report) { reports.push_back(report); });
  return reports;
}

// A claim whose process is gone (a host killed mid-call, a sender that died)
// is given back at once rather than when it runs out. Only a claim of this
// boot and process namespace can be judged: another's process ids name
// other processes.
void Outbox::ReleaseClaimsOfTheDead(const Now& now) {
  if (now.boot.empty()) return;
  std::vector<std::pair<std::int64_t, std::int64_t>> dead;
  {
    Statement claimed = file_.Prepare(
        "SELECT DISTINCT claimed_by, claimed_start FROM report WHERE claimed_until > 0"
        " AND claimed_boot = ?");
    claimed.Bind(1, now.boot);
    while (claimed.Step()) {
      const std::int64_t pid = claimed.Integer(0);
      const std::int64_t start = claimed.Integer(1);
      if (ProcessEnded(pid, start)) dead.emplace_back(pid, start);
    }
  }
  if (dead.empty()) return;
  WriteTransaction transaction(file_);
  for (const auto& [pid, start] : dead) {
    file_
        .Prepare(
            "UPDATE report SET claimed_until = 0 WHERE claimed_until > 0 AND claimed_boot = ?"
            " AND claimed_by = ? AND claimed_start = ?")
        .Bind(1, now.boot)
        .Bind(2, pid)
        .Bind(3, start)
        .Step();
  }
  transaction.Commit();
}

// The scan starts after the last report of the round and stops at the first
// free one, outside any write transaction: keeps get in between a sender's
// reports however long the line.
std::optional<std::int64_t> Outbox::NextUnclaimed(std::int64_t afterId, const Now& now) {
  const std::string sql =
      std::string("SELECT r.id FROM report r WHERE r.state = 'waiting' AND r.id > ?4 AND NOT") +
      kLiveClaim +
      " AND (length(r.order_id) = 0 OR NOT EXISTS (SELECT 1 FROM report e"
      " WHERE e.order_id = r.order_id AND e.state IN ('waiting', 'held') AND e.id < r.id))"
      " ORDER BY r.id LIMIT 1";
  Statement query = file_.Prepare(sql.c_str());
  now.Bind(query);
  if (!query.Bind(4, afterId).Step()) return std::nullopt;
  return query.Integer(0);
}

// The claim and its mark are committed before the report is handed out.
std::optional<Report> Outbox::ClaimIfFree(std::int64_t id, const Now& now) {
  WriteTransaction transaction(file_);
  std::optional<Report> report;
  {
    const std::string sql = "SELECT " + Columns() +
                            " FROM report WHERE id = ?4 AND state = 'waiting' AND NOT" + kLiveClaim;
    Statement query = file_.Prepare(sql.c_str());
    now.Bind(query);
    if (query.Bind(4, id).Step()) report = ReadReport(query);
  }
  if (!report) return std::nullopt;  // another sender took it meanwhile
  file_
      .Prepare(
          "UPDATE report SET claimed_until = ?, claimed_by = ?, claimed_start = ?,"
          " claimed_boot = ?, claimed_until_boot = ?, attempts = attempts + 1,"
          " sent = (sent <> 0) | 2 WHERE id = ?")
      .Bind(1, now.wall + kClaimSeconds)
      .Bind(2, ThisProcessId())
      .Bind(3, ProcessStartTime(ThisProcessId()))
      .Bind(4, now.boot)
      .Bind(5, now.sinceBoot + kClaimSeconds)
      .Bind(6, id)
      .Step();
  transaction.Commit();
  return report;
}

void Outbox::Tidy() {
  try {
    Prune(KeepDays());
    std::lock_guard gate(ForkGate());
    file_.EmptyWalBeyond(kWalFrames);
  } catch (const OutboxError&) {
    // A full disk, say: the reports go out all the same, and the next round
    // tidies.
  }
}

std::optional<Report> Outbox::Claim(std::int64_t afterId) {
  if (afterId == 0) Tidy();
  std::lock_guard gate(ForkGate());
  const Now now = Moment();
  ReleaseClaimsOfTheDead(now);
  for (std::optional<std::int64_t> id = NextUnclaimed(afterId, now); id;
       id = NextUnclaimed(*id, now)) {
    if (std::optional<Report> report = ClaimIfFree(*id, now)) return report;
  }
  return std::nullopt;
}

std::int64_t Outbox::Release() {
  std::lock_guard gate(ForkGate());
  WriteTransaction transaction(file_);
  file_.Execute("UPDATE report SET state = 'waiting' WHERE state = 'held'");
  const std::int64_t released = file_.Changes();
  transaction.Commit();
  return released;
}

State Outbox::Record(std::int64_t id, const Attempt& attempt) {
  std::lock_guard gate(ForkGate());
  if (attempt.verdict) file_.Execute("PRAGMA synchronous = NORMAL");
  WriteTransaction transaction(file_);
  const std::string now = LocalTimeText();
  const std::optional<State> before = StateNow(file_, id);
  if (attempt.verdict) {
    // A verdict after an attempt that may have arrived may be the service's
    // word on that earlier one: "declined" then means it had it already. A
    // report dropped meanwhile stays dropped on record, with the verdict.
    file_
        .Prepare(
            "UPDATE report SET state = CASE WHEN state = 'dropped' THEN state"
            " WHEN ? THEN 'accepted' ELSE 'declined' END, verdict = ?,"
            " repeat = ((sent & 1) AND attempts > 1), sent = sent & 1, claimed_until = 0,"
            " settled_epoch = CASE WHEN state = 'dropped' THEN settled_epoch ELSE ? END"
            " WHERE id = ?")
        .Bind(1, std::int64_t{attempt.accepted ? 1 : 0})
        .Bind(2, attempt.message)
        .Bind(3, clock_->Wall())
        .Bind(4, id)
        .Step();
  } else {
    file_
        .Prepare(
            "UPDATE report SET last_error = ?, last_message = ?, sent = (sent & 1) | ?,"
            " claimed_until = 0, state = CASE WHEN ? AND state = 'waiting' AND attempts >= ?"
            " AND kept_epoch <= ? THEN 'held' ELSE state END WHERE id = ?")
        .Bind(1, std::int64_t{attempt.error})
        .Bind(2, attempt.message)
        .Bind(3, std::int64_t{attempt.sent ? 1 : 0})
        .Bind(4, std::int64_t{attempt.mayHold ? 1 : 0})
        .Bind(5, kHeldAttempts)
        .Bind(6, clock_->Wall() - kHeldSeconds)
        .Bind(7, id)
        .Step();
  }
  file_.Prepare("INSERT INTO attempt (report_id, at, error, message) VALUES (?, ?, ?, ?)")
      .Bind(1, id)
      .Bind(2, now)
      .Bind(3, std::int64_t{attempt.verdict ? 0 : attempt.error})
      .Bind(4, attempt.message)
      .Step();
  const State after = StateNow(file_, id).value_or(State::Dropped);
  if (before && after != *before) Tally(file_, after, 1);
  transaction.Commit();
  if (attempt.verdict) file_.Execute("PRAGMA synchronous = FULL");
  return after;
}

void Outbox::GiveBack(std::int64_t id) {
  std::lock_guard gate(ForkGate());
  WriteTransaction transaction(file_);
  file_
      .Prepare(
          "UPDATE report SET claimed_until = 0, attempts = max(attempts - 1, 0),"
          " sent = sent & 1 WHERE id = ?")
      .Bind(1, id)
      .Step();
  transaction.Commit();
}

void Outbox::Forget(std::int64_t id) {
  std::lock_guard gate(ForkGate());
  WriteTransaction transaction(file_);
  file_.Prepare("DELETE FROM attempt WHERE report_id = ?").Bind(1, id).Step();
  file_.Prepare("DELETE FROM report WHERE id = ?").Bind(1, id).Step();
  transaction.Commit();
}

Dropped Outbox::Drop(std::string_view orderId, const std::string& user) {
  std::lock_guard gate(ForkGate());
  const Now now = Moment();
  ReleaseClaimsOfTheDead(now);
  WriteTransaction transaction(file_);
  Dropped result;
  {
    const std::string sql = std::string(
                                "SELECT COUNT(*) FROM report WHERE order_id = ?4"
                                " AND state IN ('waiting', 'held') AND") +
                            kLiveClaim;
    Statement sending = file_.Prepare(sql.c_str());
    now.Bind(sending);
    sending.Bind(4, orderId).Step();
    result.sending = sending.Integer(0);
  }
  // Its verdict may still come: support drops once the sending is over.
  if (result.sending > 0) return result;
  file_
      .Prepare(
          "UPDATE report SET state = 'dropped', dropped_at = ?, dropped_by = ?, claimed_until = 0,"
          " settled_epoch = ? WHERE state IN ('waiting', 'held') AND order_id = ?")
      .Bind(1, LocalTimeText())
      .Bind(2, user)
      .Bind(3, now.wall)
      .Bind(4, orderId)
      .Step();
  result.dropped = file_.Changes();
  Tally(file_, State::Dropped, result.dropped);
  transaction.Commit();
  return result;
}

std::int64_t Outbox::Prune(std::int64_t days) {
  std::lock_guard gate(ForkGate());
  const std::int64_t wall = clock_->Wall();
  WriteTransaction transaction(file_);
  // Settled before this version marked when: their time starts now.
  file_
      .Prepare((std::string("UPDATE report SET settled_epoch = ? WHERE") + kSettled +
                " AND settled_epoch = 0")
                   .c_str())
      .Bind(1, wall)
      .Step();
  const std::int64_t before = wall - days * 24 * 60 * 60;
  file_
      .Prepare((std::string("DELETE FROM attempt WHERE report_id IN (SELECT id FROM report WHERE") +
                kSettled + " AND settled_epoch < ?)")
                   .c_str())
      .Bind(1, before)
      .Step();
  file_
      .Prepare(
          (std::string("DELETE FROM report WHERE") + kSettled + " AND settled_epoch < ?").c_str())
      .Bind(1, before)
      .Step();
  const std::int64_t removed = file_.Changes();
  transaction.Commit();
  return removed;
}

}  // namespace lumirex::outbox
