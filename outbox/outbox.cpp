#include "outbox/outbox.hpp"

#include <ctime>
#include <mutex>

#include "outbox/outbox_error.hpp"
#include "support/datetime.hpp"
#include "support/no_destructor.hpp"
#include "support/processes.hpp"
#include "support/text.hpp"

namespace lumirex::outbox {

namespace {

// "LMRX": marks a file as a lumirex outbox, so that no other SQLite file
// named by mistake (the point-of-sale database, say) is ever changed.
constexpr std::int64_t kApplicationId = 0x4C4D5258;

// Keeping a report waits at most about a second for a sender's short
// transaction; no transaction spans an exchange with the service.
constexpr const char* kBusyTimeout = "PRAGMA busy_timeout = 1000;";

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
};

constexpr const char* kIndexes =
    "CREATE INDEX IF NOT EXISTS report_waiting ON report (state, id);"
    "CREATE INDEX IF NOT EXISTS report_order ON report (order_id, state);";

constexpr const char* kColumns =
    "id, operation, cpf, branch, till, sequence, order_id, url, method, body, document, kept_at,"
    " attempts, last_error, last_message, state, verdict";

// Every use of SQLite here holds this lock, and fork() waits for it (see
// OutboxFileLock).
std::mutex& ForkGate() {
  return OutboxFileLock();
}

std::int64_t Seconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
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

// The tail of a report kept before its path was: the operation tells it.
std::string PathOf(const std::string& operation) {
  return operation == "VENDA_CANC" ? "order/cancel?pdv=true" : "order?pdv=true";
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
  if (report.path.empty()) report.path = PathOf(report.operation);
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
std::vector<std::string> Tables(SqliteFile& file) {
  Statement query = file.Prepare(
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'"
      " ORDER BY name");
  std::vector<std::string> names;
  while (query.Step()) names.push_back(query.Text(0));
  return names;
}

}  // namespace

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

Outbox::Outbox(const std::string& file, SqliteFile::Mode mode)
    : file_([&] {
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
  file_.ExecuteAndKeep(kBusyTimeout);
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
    return;
  }
  file_.ExecuteAndKeep("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;");
  if (ours) return;
  WriteTransaction transaction(file_);
  file_.Execute(kTables);
  for (const Added& column : kAdded) {
    if (HasColumn(file_, "report", column.name)) continue;
    file_.Execute(
        (std::string("ALTER TABLE report ADD COLUMN ") + column.name + " " + column.definition)
            .c_str());
  }
  file_.Execute(kIndexes);
  SplitEarlierUrls();
  file_.Execute(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
  transaction.Commit();
}

// Reports of an earlier version kept their whole URL, password included:
// from now on the base URL without password, and the path apart.
void Outbox::SplitEarlierUrls() {
  std::vector<std::pair<std::int64_t, std::string>> urls;
  {
    Statement query = file_.Prepare("SELECT id, url, operation FROM report WHERE path IS NULL");
    while (query.Step()) {
      std::string url = query.Text(1);
      const std::string path = PathOf(query.Text(2));
      if (url.size() >= path.size() &&
          url.compare(url.size() - path.size(), path.size(), path) == 0) {
        url.resize(url.size() - path.size());
      }
      urls.emplace_back(query.Integer(0), WithoutPassword(url));
    }
  }
  for (const auto& [id, url] : urls) {
    file_.Prepare("UPDATE report SET url = ? WHERE id = ?").Bind(1, url).Bind(2, id).Step();
  }
}

std::string Outbox::Columns() {
  std::string columns = kColumns;
  for (const Added& column : kAdded) {
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
  WriteTransaction transaction(file_);
  Statement count = file_.Prepare("SELECT COUNT(*) FROM report WHERE state IN ('waiting', 'held')");
  count.Step();
  if (count.Integer(0) >= limit) {
    throw OutboxError("the outbox '" + file_.Path() + "' is full: " + std::to_string(limit) +
                      " reports wait already");
  }
  const std::int64_t now = Seconds();
  // Claimed, it is on its way: counted as its first attempt, which may
  // arrive even if this process dies before it hears back.
  file_
      .Prepare(
          "INSERT INTO report (operation, cpf, branch, till, sequence, order_id, url, path,"
          " method, body, document, kept_at, kept_epoch, attempts, last_error, last_message,"
          " sent, claimed_until, claimed_by)"
          " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
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
      .Bind(13, now)
      .Bind(14, std::int64_t{claimed ? 1 : report.attempts})
      .Bind(15, std::int64_t{report.lastError})
      .Bind(16, report.lastMessage)
      .Bind(17, std::int64_t{claimed ? 1 : 0})
      .Bind(18, claimed ? now + kClaimSeconds : 0)
      .Bind(19, claimed ? ThisProcessId() : 0)
      .Step();
  const std::int64_t id = file_.LastInsertId();
  transaction.Commit();
  return id;
}

std::optional<std::int32_t> Outbox::WaitingError(std::string_view orderId) {
  std::lock_guard gate(ForkGate());
  Statement query = file_.Prepare(
      "SELECT last_error FROM report WHERE state IN ('waiting', 'held') AND order_id = ?"
      " ORDER BY id DESC LIMIT 1");
  if (!query.Bind(1, orderId).Step()) return std::nullopt;
  return static_cast<std::int32_t>(query.Integer(0));
}

std::int64_t Outbox::WaitingCount() {
  std::lock_guard gate(ForkGate());
  if (empty_) return 0;
  Statement query = file_.Prepare("SELECT COUNT(*) FROM report WHERE state IN ('waiting', 'held')");
  query.Step();
  return query.Integer(0);
}

std::vector<Report> Outbox::List(Listing listing) {
  std::lock_guard gate(ForkGate());
  if (empty_) return {};
  const char* where = listing == Listing::Waiting   ? " WHERE state IN ('waiting', 'held')"
                      : listing == Listing::Current ? " WHERE state <> 'dropped'"
                                                    : "";
  const std::string sql = "SELECT " + Columns() + " FROM report" + where + " ORDER BY id";
  Statement query = file_.Prepare(sql.c_str());
  std::vector<Report> reports;
  while (query.Step()) reports.push_back(ReadReport(query));
  return reports;
}

// A claim whose process is gone (a host killed mid-call, a sender that died)
// is given back at once rather than when it runs out. The file is shared by
// processes of one machine, so their ids are comparable.
void Outbox::ReleaseClaimsOfTheDead(std::int64_t now) {
  std::vector<std::int64_t> dead;
  {
    Statement claimed = file_.Prepare(
        "SELECT DISTINCT claimed_by FROM report WHERE state = 'waiting' AND claimed_until > ?"
        " AND claimed_by > 0");
    claimed.Bind(1, now);
    while (claimed.Step()) {
      const std::int64_t pid = claimed.Integer(0);
      if (ProcessEnded(pid)) dead.push_back(pid);
    }
  }
  for (std::int64_t pid : dead) {
    file_.Prepare("UPDATE report SET claimed_until = 0 WHERE claimed_by = ? AND claimed_until > 0")
        .Bind(1, pid)
        .Step();
  }
}

std::optional<Report> Outbox::Claim(std::int64_t afterId) {
  std::lock_guard gate(ForkGate());
  WriteTransaction transaction(file_);
  const std::string sql =
      "SELECT " + Columns() +
      " FROM report r WHERE r.state = 'waiting' AND r.claimed_until <= ? AND r.id > ?"
      " AND NOT EXISTS (SELECT 1 FROM report e WHERE e.order_id = r.order_id AND e.id < r.id"
      " AND e.state IN ('waiting', 'held')) ORDER BY r.id LIMIT 1";
  const std::int64_t now = Seconds();
  ReleaseClaimsOfTheDead(now);
  Statement query = file_.Prepare(sql.c_str());
  if (!query.Bind(1, now).Bind(2, afterId).Step()) return std::nullopt;
  Report report = ReadReport(query);
  file_
      .Prepare(
          "UPDATE report SET claimed_until = ?, claimed_by = ?, attempts = attempts + 1"
          " WHERE id = ?")
      .Bind(1, now + kClaimSeconds)
      .Bind(2, ThisProcessId())
      .Bind(3, report.id)
      .Step();
  transaction.Commit();
  return report;
}

std::int64_t Outbox::Release() {
  std::lock_guard gate(ForkGate());
  WriteTransaction transaction(file_);
  file_.Execute("UPDATE report SET state = 'waiting' WHERE state = 'held'");
  Statement changed = file_.Prepare("SELECT changes()");
  changed.Step();
  const std::int64_t released = changed.Integer(0);
  transaction.Commit();
  return released;
}

void Outbox::Record(std::int64_t id, const Attempt& attempt) {
  std::lock_guard gate(ForkGate());
  if (attempt.verdict) file_.Execute("PRAGMA synchronous = NORMAL");
  WriteTransaction transaction(file_);
  const std::string now = LocalTimeText();
  if (attempt.verdict) {
    // A verdict after an attempt that may have arrived may be the service's
    // word on that earlier one: "declined" then means it had it already.
    file_
        .Prepare(
            "UPDATE report SET state = CASE WHEN ? THEN 'accepted' ELSE 'declined' END,"
            " verdict = ?, repeat = (sent AND attempts > 1), claimed_until = 0 WHERE id = ?")
        .Bind(1, std::int64_t{attempt.accepted ? 1 : 0})
        .Bind(2, attempt.message)
        .Bind(3, id)
        .Step();
  } else {
    file_
        .Prepare(
            "UPDATE report SET last_error = ?, last_message = ?,"
            " sent = CASE WHEN attempts <= 1 THEN ?3 ELSE (sent OR ?3) END,"
            " claimed_until = 0, state = CASE WHEN state = 'waiting' AND attempts >= ?"
            " AND kept_epoch <= ? THEN 'held' ELSE state END WHERE id = ?")
        .Bind(1, std::int64_t{attempt.error})
        .Bind(2, attempt.message)
        .Bind(3, std::int64_t{attempt.sent ? 1 : 0})
        .Bind(4, kHeldAttempts)
        .Bind(5, Seconds() - kHeldSeconds)
        .Bind(6, id)
        .Step();
  }
  file_.Prepare("INSERT INTO attempt (report_id, at, error, message) VALUES (?, ?, ?, ?)")
      .Bind(1, id)
      .Bind(2, now)
      .Bind(3, std::int64_t{attempt.verdict ? 0 : attempt.error})
      .Bind(4, attempt.message)
      .Step();
  transaction.Commit();
  if (attempt.verdict) file_.Execute("PRAGMA synchronous = FULL");
}

void Outbox::Forget(std::int64_t id) {
  std::lock_guard gate(ForkGate());
  WriteTransaction transaction(file_);
  file_.Prepare("DELETE FROM attempt WHERE report_id = ?").Bind(1, id).Step();
  file_.Prepare("DELETE FROM report WHERE id = ?").Bind(1, id).Step();
  transaction.Commit();
}

std::int64_t Outbox::Drop(std::string_view orderId, const std::string& user) {
  std::lock_guard gate(ForkGate());
  WriteTransaction transaction(file_);
  file_
      .Prepare(
          "UPDATE report SET state = 'dropped', dropped_at = ?, dropped_by = ?, claimed_until = 0"
          " WHERE state IN ('waiting', 'held') AND order_id = ?")
      .Bind(1, LocalTimeText())
      .Bind(2, user)
      .Bind(3, orderId)
      .Step();
  Statement changed = file_.Prepare("SELECT changes()");
  changed.Step();
  const std::int64_t dropped = changed.Integer(0);
  transaction.Commit();
  return dropped;
}

}  // namespace lumirex::outbox
