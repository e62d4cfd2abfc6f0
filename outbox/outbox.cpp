#include "outbox/outbox.hpp"

#include "outbox/outbox_error.hpp"
#include "support/datetime.hpp"
#include "support/text.hpp"

namespace lumirex::outbox {

namespace {

// A busy file (another process sending) is waited for at least as long as
// one exchange with the service takes.
constexpr const char* kSetUp =
    "PRAGMA busy_timeout = 15000;"
    "PRAGMA journal_mode = WAL;"
    "PRAGMA synchronous = FULL;"
    "CREATE TABLE IF NOT EXISTS report ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  operation BLOB NOT NULL, cpf BLOB, branch BLOB, till BLOB, sequence BLOB,"
    "  order_id BLOB NOT NULL, url BLOB NOT NULL, method BLOB NOT NULL, body BLOB NOT NULL,"
    "  document BLOB, kept_at TEXT NOT NULL, attempts INTEGER NOT NULL,"
    "  last_error INTEGER NOT NULL, last_message BLOB,"
    "  state TEXT NOT NULL DEFAULT 'waiting', verdict BLOB);"
    "CREATE INDEX IF NOT EXISTS report_waiting ON report (state, id);"
    "CREATE TABLE IF NOT EXISTS attempt ("
    "  report_id INTEGER NOT NULL REFERENCES report (id), at TEXT NOT NULL,"
    "  error INTEGER NOT NULL, message BLOB);";

constexpr const char* kColumns =
    "id, operation, cpf, branch, till, sequence, order_id, url, method, body, document, kept_at,"
    " attempts, last_error, last_message, state, verdict";

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
  if (name == "accepted") return State::Accepted;
  if (name == "declined") return State::Declined;
  return State::Waiting;
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
  return report;
}

}  // namespace

const char* StateName(State state) {
  switch (state) {
    case State::Accepted:
      return "accepted";
    case State::Declined:
      return "declined";
    case State::Waiting:
      break;
  }
  return "waiting";
}

Outbox::Outbox(const std::string& file) : file_(file, true) {
  file_.Execute(kSetUp);
}

void Outbox::Keep(const Report& report, std::int64_t limit) {
  WriteTransaction transaction(file_);
  if (WaitingCount() >= limit) {
    throw OutboxError("the outbox '" + file_.Path() + "' is full: " + std::to_string(limit) +
                      " reports wait already");
  }
  const std::string now = LocalTimeText();
  file_
      .Prepare(
          "INSERT INTO report (operation, cpf, branch, till, sequence, order_id, url, method,"
          " body, document, kept_at, attempts, last_error, last_message)"
          " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1, ?, ?)")
      .Bind(1, report.operation)
      .Bind(2, report.cpf)
      .Bind(3, report.branch)
      .Bind(4, report.till)
      .Bind(5, report.sequence)
      .Bind(6, report.orderId)
      .Bind(7, report.url)
      .Bind(8, report.method)
      .Bind(9, report.body)
      .Bind(10, report.document)
      .Bind(11, now)
      .Bind(12, std::int64_t{report.lastError})
      .Bind(13, report.lastMessage)
      .Step();
  file_.Prepare("INSERT INTO attempt (report_id, at, error, message) VALUES (?, ?, ?, ?)")
      .Bind(1, file_.LastInsertId())
      .Bind(2, now)
      .Bind(3, std::int64_t{report.lastError})
      .Bind(4, report.lastMessage)
      .Step();
  transaction.Commit();
}

std::optional<std::int32_t> Outbox::WaitingError(std::string_view orderId) {
  Statement query = file_.Prepare(
      "SELECT last_error FROM report WHERE state = 'waiting' AND order_id = ?"
      " ORDER BY id DESC LIMIT 1");
  if (!query.Bind(1, orderId).Step()) return std::nullopt;
  return static_cast<std::int32_t>(query.Integer(0));
}

std::int64_t Outbox::WaitingCount() {
  Statement query = file_.Prepare("SELECT COUNT(*) FROM report WHERE state = 'waiting'");
  query.Step();
  return query.Integer(0);
}

std::vector<Report> Outbox::List(bool waitingOnly) {
  const std::string sql = std::string("SELECT ") + kColumns + " FROM report" +
                          (waitingOnly ? " WHERE state = 'waiting'" : "") + " ORDER BY id";
  Statement query = file_.Prepare(sql.c_str());
  std::vector<Report> reports;
  while (query.Step()) reports.push_back(ReadReport(query));
  return reports;
}

std::optional<Attempt> Outbox::SendOldest(const std::function<Attempt(const Report&)>& send) {
  WriteTransaction transaction(file_);
  const std::string sql = std::string("SELECT ") + kColumns +
                          " FROM report WHERE state = 'waiting' ORDER BY id LIMIT 1";
  Statement query = file_.Prepare(sql.c_str());
  if (!query.Step()) return std::nullopt;
  const Report report = ReadReport(query);
  const Attempt attempt = send(report);
  RecordAttempt(report, attempt);
  transaction.Commit();
  return attempt;
}

void Outbox::RecordAttempt(const Report& report, const Attempt& attempt) {
  const std::string now = LocalTimeText();
  if (attempt.verdict) {
    file_
        .Prepare(
            "UPDATE report SET state = CASE WHEN ? THEN 'accepted' ELSE 'declined' END,"
            " verdict = ?, attempts = attempts + 1 WHERE id = ?")
        .Bind(1, std::int64_t{attempt.accepted ? 1 : 0})
        .Bind(2, attempt.message)
        .Bind(3, report.id)
        .Step();
  } else {
    file_
        .Prepare(
            "UPDATE report SET attempts = attempts + 1, last_error = ?, last_message = ?"
            " WHERE id = ?")
        .Bind(1, std::int64_t{attempt.error})
        .Bind(2, attempt.message)
        .Bind(3, report.id)
        .Step();
  }
  file_.Prepare("INSERT INTO attempt (report_id, at, error, message) VALUES (?, ?, ?, ?)")
      .Bind(1, report.id)
      .Bind(2, now)
      .Bind(3, std::int64_t{attempt.verdict ? 0 : attempt.error})
      .Bind(4, attempt.message)
      .Step();
}

std::int64_t Outbox::Drop(std::string_view orderId) {
  WriteTransaction transaction(file_);
  Statement count =
      file_.Prepare("SELECT COUNT(*) FROM report WHERE state = 'waiting' AND order_id = ?");
  count.Bind(1, orderId).Step();
  const std::int64_t dropped = count.Integer(0);
  file_
      .Prepare(
          "DELETE FROM attempt WHERE report_id IN"
          " (SELECT id FROM report WHERE state = 'waiting' AND order_id = ?)")
      .Bind(1, orderId)
      .Step();
  file_.Prepare("DELETE FROM report WHERE state = 'waiting' AND order_id = ?")
      .Bind(1, orderId)
      .Step();
  transaction.Commit();
  return dropped;
}

}  // namespace lumirex::outbox
