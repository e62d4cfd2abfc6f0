// The outbox file: what it keeps, in which order it hands reports out, its
// bound, claims that run out, and the files it refuses to touch.
#include "outbox/outbox.hpp"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "outbox/outbox_error.hpp"
#include "testkit/testkit.hpp"

namespace lumirex::outbox {
namespace {

Report Made(const std::string& operation, const std::string& orderId) {
  Report report;
  report.operation = operation;
  report.orderId = orderId;
  report.url = "http://127.0.0.1:9/";
  report.path = "order?pdv=true";
  report.method = "POST";
  report.body = std::string("order=%3C\0x&", 12);  // kept byte for byte, NUL included
  report.lastError = 4;
  report.lastMessage = "could not connect";
  return report;
}

Attempt Failure(bool sent = false) {
  return Attempt{false, false, 6, "timed out", sent};
}

class OutboxTest : public ::testing::Test {
 protected:
  testkit::TempDir folder_;
  std::string file_ = (folder_.path() / "outbox.sqlite").string();
};

TEST_F(OutboxTest, AFailedReportHoldsBackOnlyLaterReportsOfItsOrder) {
  Outbox outbox(file_);
  outbox.Keep(Made("VENDA", "A"), 10, false);
  outbox.Keep(Made("VENDA", "B"), 10, false);
  outbox.Keep(Made("VENDA_CANC", "A"), 10, false);
  EXPECT_EQ(Outbox(file_).WaitingCount(), 3);  // on disk, for another opening
  struct stat status {};
  ASSERT_EQ(::stat(file_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);  // customers' CPFs: the till's user only

  std::optional<Report> first = outbox.Claim(0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->body, std::string("order=%3C\0x&", 12));
  // Claimed: a second sender passes it by, and the cancellation waits behind it.
  std::optional<Report> second = Outbox(file_).Claim(0);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->orderId, "B");
  EXPECT_FALSE(Outbox(file_).Claim(second->id));
  outbox.Record(first->id, Failure());
  outbox.Record(second->id, Attempt{true, true, 0, "ok"});
  // A in the outbox again, after B: still ahead of its own cancellation.
  std::optional<Report> again = outbox.Claim(0);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->orderId, "A");
  EXPECT_EQ(again->operation, "VENDA");
  EXPECT_EQ(again->attempts, 1);
  outbox.Record(again->id, Attempt{true, false, 0, "already registered"});
  std::optional<Report> cancel = outbox.Claim(0);
  ASSERT_TRUE(cancel);
  EXPECT_EQ(cancel->operation, "VENDA_CANC");
  EXPECT_EQ(outbox.WaitingCount(), 1);
}

// Kept before it is sent: the call's own attempt counts, may have arrived,
// and a verdict on a resend after it is recorded as a repeat.
TEST_F(OutboxTest, AReportKeptAheadIsAStandingClaimThatMayHaveArrived) {
  Outbox outbox(file_);
  const std::int64_t id = outbox.Keep(Made("VENDA", "A"), 10, true);
  EXPECT_FALSE(outbox.Claim(0));  // its call is sending it
  outbox.Record(id, Failure(true));
  const std::optional<Report> resent = outbox.Claim(0);
  ASSERT_TRUE(resent);
  EXPECT_TRUE(resent->sent);
  outbox.Record(id, Attempt{true, false, 0, "already registered"});
  const std::vector<Report> all = outbox.List(Listing::Current);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].state, State::Declined);
  EXPECT_TRUE(all[0].repeat);
  EXPECT_EQ(all[0].attempts, 2);
}

// Failed often over a long time: set aside, no longer claimed, until support
// sends it once more on purpose; failing again, it is held again.
TEST_F(OutboxTest, AReportFailingForLongIsHeldUntilReleased) {
  Outbox outbox(file_);
  const std::int64_t id = outbox.Keep(Made("VENDA", "A"), 10, false);
  {
    sqlite3* db = nullptr;
    sqlite3_open(file_.c_str(), &db);
    sqlite3_exec(db, "UPDATE report SET kept_epoch = 0", nullptr, nullptr, nullptr);  // long ago
    sqlite3_close(db);
  }
  // An outage holds nothing, however long: only a report the service
  // refuses while it answers others is set aside.
  Attempt refused = Failure();
  refused.mayHold = true;
  for (std::int64_t attempt = 0; attempt <= kHeldAttempts; ++attempt) {
    ASSERT_TRUE(outbox.Claim(0)) << attempt;
    outbox.Record(id, Failure());
  }
  ASSERT_TRUE(outbox.Claim(0));
  outbox.Record(id, refused);
  EXPECT_EQ(outbox.List(Listing::Waiting).at(0).state, State::Held);
  EXPECT_FALSE(outbox.Claim(0));
  EXPECT_EQ(outbox.WaitingCount(), 1);
  EXPECT_EQ(outbox.Release(), 1);
  ASSERT_TRUE(outbox.Claim(0));
  outbox.Record(id, refused);
  EXPECT_EQ(outbox.List(Listing::Waiting).at(0).state, State::Held);
}

TEST_F(OutboxTest, IsBoundedAndDropsOnlyWhatIsAskedForOnRecord) {
  Outbox outbox(file_);
  outbox.Keep(Made("VENDA", "A"), 2, false);
  outbox.Keep(Made("VENDA", "B"), 2, false);
  EXPECT_THROW(outbox.Keep(Made("VENDA", "C"), 2, false), OutboxError);
  EXPECT_EQ(outbox.WaitingCount(), 2);
  EXPECT_EQ(outbox.Drop("A", "support").dropped, 1);
  EXPECT_EQ(outbox.Drop("A", "support").dropped, 0);
  EXPECT_FALSE(outbox.WaitingError("A").has_value());
  EXPECT_TRUE(outbox.WaitingError("B").has_value());
  EXPECT_EQ(outbox.List(Listing::Current).size(), 1u);
  const std::vector<Report> all = outbox.List(Listing::All);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].state, State::Dropped);
  EXPECT_EQ(all[0].droppedBy, "support");
}

// An outbox of the earlier version, whose reports kept their whole URL with
// its password, is taken up: base and path apart, the password gone, and
// the file private.
TEST_F(OutboxTest, AnEarlierOutboxIsTakenUpWithoutItsPasswords) {
  {
    sqlite3* db = nullptr;
    sqlite3_open(file_.c_str(), &db);
    sqlite3_exec(
        db,
        "CREATE TABLE report (id INTEGER PRIMARY KEY AUTOINCREMENT, operation BLOB NOT NULL,"
        " cpf BLOB, branch BLOB, till BLOB, sequence BLOB, order_id BLOB NOT NULL,"
        " url BLOB NOT NULL, method BLOB NOT NULL, body BLOB NOT NULL, document BLOB,"
        " kept_at TEXT NOT NULL, attempts INTEGER NOT NULL, last_error INTEGER NOT NULL,"
        " last_message BLOB, state TEXT NOT NULL DEFAULT 'waiting', verdict BLOB);"
        "CREATE TABLE attempt (report_id INTEGER NOT NULL, at TEXT NOT NULL,"
        " error INTEGER NOT NULL, message BLOB);"
        "INSERT INTO report (operation, order_id, url, method, body, kept_at, attempts,"
        " last_error, state) VALUES ('VENDA_CANC', 'A', 'http://till:pw@h/order/cancel?pdv=true',"
        " 'POST', 'order=x', '2026-01-01T00:00:00', 1, 4, 'waiting'),"
        " ('VENDA', 'B', 'http://h/order?pdv=true', 'POST', 'order=y', '2026-01-01T00:00:00',"
        " 1, 0, 'accepted')",
        nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  ::chmod(file_.c_str(), 0644);
  {
    Outbox looking(file_, SqliteFile::Mode::Read);
    EXPECT_EQ(looking.List(Listing::Waiting).at(0).orderId, "A");
    EXPECT_EQ(looking.Totals().accepted, 0);  // read-only: nothing counted yet, nothing made
    EXPECT_FALSE(looking.ServiceState());
  }
  const std::optional<Report> report = Outbox(file_).Claim(0);
  // Counted from what it holds on record when taken up.
  EXPECT_EQ(Outbox(file_, SqliteFile::Mode::Read).Totals().accepted, 1);
  struct stat status {};
  ASSERT_EQ(::stat(file_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);  // its CPFs no longer readable by every user
  ASSERT_TRUE(report);
  EXPECT_EQ(report->url, "http://till@h/");
  EXPECT_EQ(report->path, "order/cancel?pdv=true");
}

// Only outbox files are written: another SQLite file, a link, a folder or a
// damaged file is refused by name, and the foreign file is left as it was.
TEST_F(OutboxTest, RefusesWhatIsNotAnOutboxAndChangesNothing) {
  const std::string foreign = (folder_.path() / "pos.sqlite").string();
  {
    sqlite3* db = nullptr;
    sqlite3_open(foreign.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE VENDA (CDFILIAL TEXT)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  const std::string before = testkit::ReadFile(foreign);
  const std::string link = (folder_.path() / "link.sqlite").string();
  std::filesystem::create_symlink(file_, link);
  const std::string damaged = (folder_.path() / "damaged.sqlite").string();
  std::ofstream(damaged) << "not a database, not at all; long enough to be read as a header..";
  struct Row {
    std::string path;
    const char* says;
  };
  for (const Row& row : {Row{foreign, "another SQLite file"}, Row{link, "symbolic link"},
                         Row{folder_.path().string(), "not a regular file"},
                         Row{damaged, "damaged or not a SQLite file"}}) {
    for (SqliteFile::Mode mode : {SqliteFile::Mode::Create, SqliteFile::Mode::Read}) {
      try {
        Outbox outbox(row.path, mode);
        ADD_FAILURE() << row.path << " opened";
      } catch (const OutboxError& error) {
        EXPECT_NE(std::string(error.what()).find(row.says), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find(row.path), std::string::npos) << error.what();
      }
    }
  }
  EXPECT_EQ(testkit::ReadFile(foreign), before);
  EXPECT_FALSE(std::filesystem::exists(file_));  // the link was not followed
}

// A clock support can step: the wall clock and the boot's clock apart.
class SteppedClock : public Clock {
 public:
  std::int64_t wall = 1'800'000'000;
  std::int64_t sinceBoot = 1000;
  std::string boot = "this boot";
  std::int64_t Wall() const override { return wall; }
  std::int64_t SinceBoot() const override { return sinceBoot; }
  std::string Boot() const override { return boot; }
};

void Change(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// A claim runs out by the clock of the boot it was made in, which a step of
// the wall clock does not move; another boot's (a machine sharing the file,
// or before a restart) by the wall clock; a process known to be gone on this
// boot gives its claim back at once.
TEST_F(OutboxTest, AClaimRunsOutByTheBootsClockAndOnlyItsOwnProcessesAreJudged) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  struct Row {
    const char* what;
    std::string claimedOn;  // the boot of the claim
    std::int64_t claimer;   // 0: this process
    std::int64_t wallStep, bootStep;
    bool free;
  };
  for (const Row& row : {
           Row{"wall a day ahead", "this boot", 0, 86400, 10, false},
           Row{"wall a day back, run out", "this boot", 0, -86400, kClaimSeconds + 1, true},
           Row{"another boot, within", "other boot", 0, 10, 86400, false},
           Row{"another boot, run out", "other boot", 0, kClaimSeconds + 1, 0, true},
           Row{"its process gone", "this boot", gone, 0, 0, true},
           Row{"a process of another boot", "other boot", gone, 0, 0, false},
       }) {
    std::filesystem::remove(file_);
    SteppedClock clock;
    clock.boot = row.claimedOn;
    Outbox(file_, SqliteFile::Mode::Create, clock).Keep(Made("VENDA", "A"), 10, true);
    if (row.claimer != 0) Change(file_, "UPDATE report SET claimed_by = " + std::to_string(gone));
    clock.boot = "this boot";
    clock.wall += row.wallStep;
    clock.sinceBoot += row.bootStep;
    EXPECT_EQ(Outbox(file_, SqliteFile::Mode::Write, clock).Claim(0).has_value(), row.free)
        << row.what;
  }
}

// A sender killed after the service had the report leaves the claim's mark:
// the next resend's refusal is recorded as a repeat.
TEST_F(OutboxTest, AClaimMarksTheReportBeforeItIsSent) {
  SteppedClock clock;
  Outbox outbox(file_, SqliteFile::Mode::Create, clock);
  outbox.Keep(Made("VENDA", "A"), 10, false);
  const std::optional<Report> first = outbox.Claim(0);
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->sent);
  EXPECT_TRUE(outbox.List(Listing::Waiting).at(0).sent);  // on disk before the exchange
  clock.sinceBoot += kClaimSeconds + 1;                   // no verdict recorded: killed
  const std::optional<Report> again = outbox.Claim(0);
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->sent);
  outbox.Record(again->id, Attempt{true, false, 0, "already registered"});
  EXPECT_TRUE(outbox.List(Listing::Current).at(0).repeat);
}

// Support cannot drop a report being sent: its verdict would follow. One
// dropped after its claim ran out stays dropped when a late verdict comes.
TEST_F(OutboxTest, ADropWaitsForTheSendingAndStaysOnRecord) {
  SteppedClock clock;
  Outbox outbox(file_, SqliteFile::Mode::Create, clock);
  const std::int64_t id = outbox.Keep(Made("VENDA", "A"), 10, true);
  const Dropped refused = outbox.Drop("A", "support");
  EXPECT_EQ(refused.dropped, 0);
  EXPECT_EQ(refused.sending, 1);
  clock.sinceBoot += kClaimSeconds + 1;
  EXPECT_EQ(outbox.Drop("A", "support").dropped, 1);
  outbox.Record(id, Attempt{true, true, 0, "ok"});
  const Report report = outbox.List(Listing::All).at(0);
  EXPECT_EQ(report.state, State::Dropped);
  EXPECT_EQ(report.verdict, "ok");
}

// Sales the database did not have carry no order id: each is an order of
// its own, not one order all of them queue behind.
TEST_F(OutboxTest, ReportsWithoutAnOrderIdWaitForNoOther) {
  Outbox outbox(file_);
  outbox.Keep(Made("VENDA", ""), 10, false);
  outbox.Keep(Made("VENDA", ""), 10, false);
  EXPECT_FALSE(outbox.WaitingError("").has_value());
  const std::optional<Report> first = outbox.Claim(0);
  ASSERT_TRUE(first);
  outbox.Record(first->id, Failure());
  const std::optional<Report> second = outbox.Claim(first->id);
  ASSERT_TRUE(second);
  EXPECT_NE(second->id, first->id);
}

// Settled reports leave after the days kept; waiting ones never do.
TEST_F(OutboxTest, PrunesOnlyReportsSettledLongerAgoThanKept) {
  SteppedClock clock;
  Outbox outbox(file_, SqliteFile::Mode::Create, clock);
  const std::int64_t answered = outbox.Keep(Made("VENDA", "A"), 10, true);
  outbox.Record(answered, Attempt{true, true, 0, "ok"});
  outbox.Keep(Made("VENDA", "B"), 10, false);
  clock.wall += 29 * 86400;
  EXPECT_EQ(outbox.Prune(30), 0);
  clock.wall += 2 * 86400;
  EXPECT_EQ(outbox.Prune(30), 1);
  EXPECT_EQ(outbox.List(Listing::All).size(), 1u);
  EXPECT_EQ(outbox.WaitingCount(), 1);
}

// The counts a fleet collects: each ending once, in the transaction that
// changes the report; a resend of a held report is no ending, and pruning
// takes nothing back. The service's note reads back in another process.
TEST_F(OutboxTest, TalliesCountEachEndingOnceAndOutlivePruning) {
  SteppedClock clock;
  Outbox outbox(file_, SqliteFile::Mode::Create, clock);
  outbox.Record(outbox.Keep(Made("VENDA", "A"), 10, true), Attempt{true, true, 0, "ok"});
  outbox.Record(outbox.Keep(Made("VENDA", "B"), 10, true), Attempt{true, false, 0, "no"});
  outbox.Keep(Made("VENDA", "C"), 10, false);
  EXPECT_EQ(outbox.Drop("C", "support").dropped, 1);
  const std::int64_t held = outbox.Keep(Made("VENDA", "D"), 10, true);
  clock.wall += kHeldSeconds + 1;
  Attempt refused = Failure();
  refused.mayHold = true;
  EXPECT_EQ(outbox.Record(held, refused), State::Waiting);
  for (std::int64_t attempt = 1; attempt < kHeldAttempts; ++attempt) {
    ASSERT_TRUE(outbox.Claim(0));
    outbox.Record(held, refused);
  }
  EXPECT_EQ(outbox.Release(), 1);
  ASSERT_TRUE(outbox.Claim(0));
  EXPECT_EQ(outbox.Record(held, refused), State::Held);  // held twice: counted twice
  clock.wall += 40 * 86400;
  EXPECT_EQ(outbox.Prune(30), 3);
  const Tallies tallies = Outbox(file_, SqliteFile::Mode::Read).Totals();
  EXPECT_EQ((std::vector<std::int64_t>{tallies.accepted, tallies.declined, tallies.dropped,
                                       tallies.held}),
            (std::vector<std::int64_t>{1, 1, 1, 2}));
  EXPECT_EQ(tallies.sinceEpoch, 1'800'000'000);

  EXPECT_FALSE(outbox.ServiceState());
  outbox.NoteService(ServiceNote{10, 20, 30});
  outbox.NoteService(ServiceNote{11, 0, 31});
  const std::optional<ServiceNote> note = Outbox(file_, SqliteFile::Mode::Read).ServiceState();
  ASSERT_TRUE(note);
  EXPECT_EQ((std::vector<std::int64_t>{note->lastAnswer, note->offlineSince, note->notedAt}),
            (std::vector<std::int64_t>{11, 0, 31}));
}

// A till's year in small: the WAL is started over as it goes, and a listing
// reads every report across its batches.
TEST_F(OutboxTest, TheWalStaysSmallOverThousandsOfReports) {
  Outbox outbox(file_);
  constexpr int kReports = 1000;
  for (int made = 0; made < kReports; ++made) {
    Report report = Made("VENDA", std::to_string(made));
    report.body.assign(1500, 'x');
    report.document.assign(1500, 'y');
    outbox.Record(outbox.Keep(report, 10, true), Attempt{true, true, 0, "ok"});
  }
  EXPECT_LT(std::filesystem::file_size(file_ + "-wal"), 2u * 1024 * 1024);
  std::vector<std::int64_t> ids;
  outbox.List(Listing::Current, [&](const Report& report) { ids.push_back(report.id); });
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(kReports));
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
}

}  // namespace
}  // namespace lumirex::outbox
