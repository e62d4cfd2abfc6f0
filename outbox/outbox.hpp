// The outbox: sale and cancellation reports kept in a SQLite file so that none
// is lost. A report is kept before it is sent (write-ahead) and leaves the
// waiting line once the service answers it with a verdict; it stays in the
// file for the record. Reports of one order go out in the order they were
// made; other orders never wait for it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outbox/figures.hpp"
#include "outbox/sqlite_file.hpp"

namespace lumirex::outbox {

// Held: failed for so long that it is set aside until support sends it on
// purpose (`--held`) or drops it. Dropped: removed by support, kept on record.
enum class State { Waiting, Held, Accepted, Declined, Dropped };

// "waiting", "held", "accepted", "declined" or "dropped".
const char* StateName(State state);

// The URL with the password of its user part taken out: the file never
// holds one.
std::string WithoutPassword(const std::string& url);

// A report failed this many times, and is this old, before a failure while
// its service answered others holds it.
inline constexpr std::int64_t kHeldAttempts = 10;
inline constexpr std::int64_t kHeldSeconds = 24 * 60 * 60;
// A claim of a report by the call or sender sending it; one that died gives
// it back when the claim runs out, or at once when its process is known to
// be gone from this machine.
inline constexpr std::int64_t kClaimSeconds = 120;

// The clocks a claim is measured by. Within one boot, the time since it
// started, which a step of the wall clock does not move; across boots and
// machines (a file on a shared folder), only the wall clock is shared.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t Wall() const;       // seconds since 1970
  virtual std::int64_t SinceBoot() const;  // seconds
  virtual std::string Boot() const;        // this boot and process namespace; empty: unknown
};

struct Report {
  std::int64_t id = 0;
  std::string operation;  // "VENDA" or "VENDA_CANC"
  std::string cpf, branch, till, sequence;
  std::string orderId;
  std::string url;           // the base URL it was made with, without password
  std::string path;          // the URL's tail, as "order?pdv=true"
  std::string method, body;  // the request, byte for byte
  std::string document;      // the request document as the log shows it
  std::string keptAt;        // local time, "yyyy-mm-ddThh:nn:ss"
  std::int64_t attempts = 0;
  std::int32_t lastError = 0;  // LUMIREX_E_* of the last attempt
  std::string lastMessage;
  State state = State::Waiting;
  std::string verdict;  // the service's message, once it answered
  bool sent = false;    // an earlier attempt may have reached the service
  bool repeat = false;  // its verdict came to a resend after such an attempt
  std::string droppedAt, droppedBy;
};

// What one attempt to send a report came to.
struct Attempt {
  bool verdict = false;  // the service answered: the report leaves the waiting line
  bool accepted = false;
  std::int32_t error = 0;  // without a verdict: why it did not get one (LUMIREX_E_*)
  std::string message;     // the verdict's message, or the failure's
  bool sent = false;       // without a verdict: the request may have arrived
  // Without a verdict: the service answered other reports meanwhile, so the
  // failure is this report's own and counts towards holding it. An outage
  // never holds a report, however long it lasts.
  bool mayHold = false;
};

enum class Listing { Waiting, Current, All };  // waiting and held; plus answered; plus dropped

// The waiting line in brief.
struct Waiting {
  std::int64_t count = 0;  // waiting and held
  std::int64_t held = 0;
  std::string oldestKeptAt;          // empty when none waits
  std::int64_t oldestKeptEpoch = 0;  // seconds since 1970; 0 when none waits
};

// What a drop came to: reports of the order being sent at that moment are
// not dropped, nor any other of the order.
struct Dropped {
  std::int64_t dropped = 0;
  std::int64_t sending = 0;
};

class Outbox {
 public:
  // Opens the file; with Create, makes it and its tables when missing. Only
  // a lumirex outbox is written to: another SQLite file is refused before
  // anything in it changes. Writes are on disk before they return. Raises
  // OutboxError.
  explicit Outbox(const std::string& file, SqliteFile::Mode mode = SqliteFile::Mode::Create,
                  const Clock& clock = SystemClock());
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Whether this opening made the file.
  bool Made() const { return file_.Made(); }

  // Keeps a report. Claimed: before its first attempt, by the call sending
  // it, so no sender takes it meanwhile; otherwise as failed with the
  // report's lastError. Raises OutboxError when `limit` reports wait
  // already; nothing kept is dropped. Returns its id.
  std::int64_t Keep(const Report& report, std::int64_t limit, bool claimed);

  // The code of the newest waiting or held report of this order; nullopt
  // when none waits. A sale the database did not have (no order id) is an
  // order of its own, never behind another.
  std::optional<std::int32_t> WaitingError(std::string_view orderId);
  // Waiting and held reports.
  std::int64_t WaitingCount() { return Summary().count; }
  Waiting Summary();
  std::int64_t HeldCount() { return Summary().held; }
  // Hands each report to `each`, oldest first, reading a few at a time: the
  // memory used does not grow with the outbox, and a slow reader holds no
  // snapshot that would keep the WAL from being started over.
  void List(Listing listing, const std::function<void(const Report&)>& each);
  std::vector<Report> List(Listing listing);

  // Claims the oldest waiting report after `afterId` that no sender holds
  // and that no earlier report of its order waits for, and marks it as one
  // that may arrive before the exchange starts: a sender killed after the
  // service had it leaves the mark. Returns nullopt when there is none.
  // Claiming from the start (`afterId` 0) begins a sending round, which
  // first tidies the file: Prune(KeepDays()), and the WAL emptied when it
  // grew beyond a bound.
  std::optional<Report> Claim(std::int64_t afterId);
  // Puts the held reports back in the waiting line, for one more round;
  // returns how many. One that fails again is held again.
  std::int64_t Release();
  // Records an attempt and gives the claim back. A verdict's record need not
  // wait for the disk: lost in a power cut, it costs one resend, which the
  // service refuses as a repeat. Returns the report's state after it (Held
  // when this failure held it; Dropped when support dropped it meanwhile).
  State Record(std::int64_t id, const Attempt& attempt);
  // Gives a claim back untried: the attempt it counted did not happen (the
  // service was known to be out of reach, so nothing was sent).
  void GiveBack(std::int64_t id);
  // A report whose failure no later attempt can mend leaves the outbox.
  void Forget(std::int64_t id);

  // Drops the waiting and held reports of an order, keeping a record of
  // when and by whom; none while one of them is being sent.
  Dropped Drop(std::string_view orderId, const std::string& user);

  // Removes the answered, declined and dropped reports settled more than
  // `days` ago; returns how many.
  std::int64_t Prune(std::int64_t days);

  // How the reports ended since the file was made; zeroes from a read-only
  // opening of a file that never counted.
  Tallies Totals();
  // The service's state as the library saw it when it last changed, for the
  // processes that cannot ask the library; nullopt when never noted.
  void NoteService(const ServiceNote& note);
  std::optional<ServiceNote> ServiceState();

 private:
  struct Now;
  static const Clock& SystemClock();
  Now Moment() const;
  void SetUp(SqliteFile::Mode mode);
  void ReleaseClaimsOfTheDead(const Now& now);
  std::optional<std::int64_t> NextUnclaimed(std::int64_t afterId, const Now& now);
  std::optional<Report> ClaimIfFree(std::int64_t id, const Now& now);
  void Tidy();
  void SplitEarlierUrls();
  std::string Columns();

  const Clock* clock_;
  SqliteFile file_;
  bool legacy_ = false;     // read-only opening of a file from before these columns
  bool empty_ = false;      // read-only opening of a file nothing was kept in yet
  bool noFigures_ = false;  // read-only opening of a file from before the tallies
};

}  // namespace lumirex::outbox
