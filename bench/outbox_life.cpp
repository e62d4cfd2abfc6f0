#include "outbox_life.hpp"

#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "log_reading.hpp"
#include "outbox/outbox.hpp"
#include "outbox/outbox_error.hpp"
#include "outbox/outbox_settings.hpp"
#include "temp_folder.hpp"

namespace lumirex::bench {

namespace {

constexpr int kMany = 100000;
constexpr int kFew = 100;
constexpr int kTimedReports = 200;

outbox::Report SaleReport(int number) {
  outbox::Report report;
  report.operation = "VENDA";
  report.orderId = "0001009" + std::to_string(1000000 + number);
  report.url = "http://127.0.0.1:9/";
  report.path = "order?pdv=true";
  report.method = "POST";
  report.body.assign(600, 'b');  // about a sale of a few items, percent-encoded
  report.document.assign(400, 'd');
  report.lastError = 4;
  report.lastMessage = "could not connect";
  return report;
}

// A year of a till's sales in one statement: `count` reports in `state`,
// made by the library first so that the file has its tables.
void Fill(const std::string& file, int count, const char* state) {
  outbox::Outbox(file).Keep(SaleReport(0), 1, false);
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  const std::string sql =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
      std::to_string(count - 1) +
      ") INSERT INTO report (operation, order_id, url, path, method, body, document, kept_at,"
      " kept_epoch, attempts, last_error, state, settled_epoch)"
      " SELECT operation, CAST('0001009' || (2000000 + i) AS BLOB), url, path, method, body,"
      " document, kept_at, strftime('%s', 'now'), 1, 0, '" +
      state +
      "', strftime('%s', 'now') FROM n, (SELECT * FROM report WHERE id = 1);"
      "PRAGMA wal_checkpoint(TRUNCATE);";
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot fill " + file);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Microseconds each run of `work` took, the median of `runs`.
double MedianMicroseconds(int runs, const std::function<void(int)>& work) {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    work(run);
    times.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  return Median(times);
}

std::uintmax_t WalBytes(const std::string& file) {
  std::error_code none;
  const std::uintmax_t size = std::filesystem::file_size(file + "-wal", none);
  return none ? 0 : size;
}

// A sale's work in the outbox: kept ahead of its sending, its verdict recorded.
struct KeepCost {
  double microseconds = 0;
  std::uintmax_t largestWal = 0;
};

KeepCost Keeping(const std::string& file, int firstNumber) {
  KeepCost cost;
  cost.microseconds = MedianMicroseconds(kTimedReports, [&](int run) {
    outbox::Outbox box(file);
    box.Record(box.Keep(SaleReport(firstNumber + run), outbox::kDefaultLimit, true),
               outbox::Attempt{true, true, 0, "ok"});
    cost.largestWal = std::max(cost.largestWal, WalBytes(file));
  });
  return cost;
}

// A sender's work on one waiting report: claimed, answered.
double Draining(const std::string& file) {
  outbox::Outbox box(file);
  std::int64_t after = 0;
  return MedianMicroseconds(kFew - 1, [&](int) {
    const std::optional<outbox::Report> report = box.Claim(after);
    if (!report) throw std::runtime_error("nothing to claim in " + file);
    after = report->id;
    box.Record(report->id, outbox::Attempt{true, true, 0, "ok"});
  });
}

// A sender in a process of its own drains the line while this one keeps.
int FailedKeepsWhileDraining(const std::string& file) {
  const pid_t sender = ::fork();
  if (sender < 0) throw std::runtime_error("fork failed");
  if (sender == 0) {
    try {
      outbox::Outbox box(file);
      for (std::int64_t after = 0;;) {
        const std::optional<outbox::Report> report = box.Claim(after);
        if (!report) break;
        after = report->id;
        box.Record(report->id, outbox::Attempt{true, true, 0, "ok"});
      }
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int failed = 0;
  for (int run = 0; run < kTimedReports; ++run) {
    try {
      outbox::Outbox(file).Keep(SaleReport(3000000 + run), kMany * 2, false);
    } catch (const outbox::OutboxError&) {
      ++failed;
    }
  }
  ::kill(sender, SIGKILL);
  ::waitpid(sender, nullptr, 0);
  return failed;
}

struct Readers {
  long listKiB = 0, jsonKiB = 0, doctorKiB = 0;
};

Readers ReadersPeak(const std::string& folder, const std::string& file) {
  Readers peak;
  peak.listKiB = PeakOfCommand({LUMIREX_CLI, "outbox", "list", "--outbox", file}, false);
  peak.jsonKiB = PeakOfCommand({LUMIREX_CLI, "outbox", "list", "--json", "--outbox", file}, false);
  peak.doctorKiB = PeakOfCommand({LUMIREX_CLI, "doctor", "--base-dir", folder, "--outbox", file,
                                  "--url", "http://127.0.0.1:9/"},
                                 true);
  return peak;
}

std::string Megabytes(std::uintmax_t bytes) {
  std::ostringstream text;
  text.precision(2);
  text << std::fixed << static_cast<double>(bytes) / (1024.0 * 1024.0) << " MB";
  return text.str();
}

std::string Met(bool met) {
  return met ? "met" : "**missed**";
}

}  // namespace

std::string OutboxLifeMarkdown() {
  std::ostringstream out;
  out.precision(0);
  out << std::fixed << "### The outbox over a till's life\n\n";
  try {
    TempFolder folder;
    const std::string fresh = (folder.path() / "new.sqlite").string();
    const std::string made = (folder.path() / "made.sqlite").string();
    const std::string few = (folder.path() / "few.sqlite").string();
    const std::string many = (folder.path() / "many.sqlite").string();
    const std::string drained = (folder.path() / "drained.sqlite").string();
    Fill(made, kMany, "accepted");
    Fill(few, kFew, "waiting");
    Fill(many, kMany, "waiting");
    Fill(drained, kMany, "waiting");
    const KeepCost onNew = Keeping(fresh, 0);
    const KeepCost afterMany = Keeping(made, 0);
    const double drainFew = Draining(few);
    const double drainMany = Draining(many);
    const int failed = FailedKeepsWhileDraining(drained);
    const Readers fewReaders = ReadersPeak(folder.str(), few);
    const Readers manyReaders = ReadersPeak(folder.str(), many);
    const double keepRatio = afterMany.microseconds / onNew.microseconds;
    const double drainRatio = drainMany / drainFew;
    const std::uintmax_t largestWal = std::max(onNew.largestWal, afterMany.largestWal);
    out << "A sale's work in the outbox (the report kept ahead of its sending, its verdict "
           "recorded; opening the file each time, as a call does), the median of "
        << kTimedReports << " reports; a sender's work on one waiting report (claimed, then "
        << "answered); the largest WAL seen after each report; the peak resident set of the "
           "commands that read the outbox.\n\n"
        << "| measure | new or " << kFew << " waiting | " << kMany
        << " made or waiting | target |\n| --- | --- | --- | --- |\n"
        << "| keeping a report | " << onNew.microseconds << " µs | " << afterMany.microseconds
        << " µs | within 20 %: " << Met(keepRatio <= 1.2) << " |\n"
        << "| the largest WAL | " << Megabytes(onNew.largestWal) << " | "
        << Megabytes(afterMany.largestWal)
        << " | at most 8 MB: " << Met(largestWal <= 8u * 1024 * 1024) << " |\n"
        << "| draining a report | " << drainFew << " µs | " << drainMany
        << " µs | within 20 %: " << Met(drainRatio <= 1.2) << " |\n"
        << "| `lumirex outbox list` | " << fewReaders.listKiB << " KiB | " << manyReaders.listKiB
        << " KiB | bounded: " << Met(manyReaders.listKiB <= fewReaders.listKiB + 4096) << " |\n"
        << "| `lumirex outbox list --json` | " << fewReaders.jsonKiB << " KiB | "
        << manyReaders.jsonKiB
        << " KiB | bounded: " << Met(manyReaders.jsonKiB <= fewReaders.jsonKiB + 4096) << " |\n"
        << "| `lumirex doctor --outbox` | " << fewReaders.doctorKiB << " KiB | "
        << manyReaders.doctorKiB
        << " KiB | bounded: " << Met(manyReaders.doctorKiB <= fewReaders.doctorKiB + 4096) << " |\n"
        << "| reports not kept while a sender in another process drains " << kMany << " | | "
        << failed << " of " << kTimedReports << " | none: " << Met(failed == 0) << " |\n\n";
  } catch (const std::exception& error) {
    out << "Not measured: " << error.what() << "\n\n";
  }
  return out.str();
}

}  // namespace lumirex::bench
