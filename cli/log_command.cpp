#include "cli/log_command.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <vector>

#include <unistd.h>

#include "cli/display_text.hpp"
#include "cli/log_reader.hpp"
#include "cli/usage_error.hpp"
#include "support/datetime.hpp"
#include "support/log.hpp"
#include "support/operations.hpp"
#include "support/path_text.hpp"

namespace lumirex::cli {

namespace {

struct SaleKey {
  std::string branch, till, sequence;
};

struct LaterAnswer;

// What the filters compare with, read from the command line once.
struct Filters {
  bool failed = false;
  bool all = false;  // --failed also lists the failed reports answered later
  std::string operation;
  std::optional<SaleKey> sale;
  std::string cpf;
};

// A CPF as the sandbox and the service compare it: digits only.
std::string CpfDigits(std::string_view cpf) {
  std::string digits;
  for (char c : cpf) {
    if (c != '.' && c != '-' && c != ' ') digits += c;
  }
  return digits;
}

Filters FiltersOf(const LogOptions& options) {
  Filters filters{options.failed, options.all, options.operation, std::nullopt,
                  CpfDigits(options.cpf)};
  if (!options.sale.empty()) {
    std::smatch parts;
    static const std::regex kSale("([^/]*)/([^/]*)/([^/]*)");
    if (!std::regex_match(options.sale, parts, kSale)) {
      throw UsageError("--sale takes FILIAL/CAIXA/SEQ, as in 0001/001/000123, not \"" +
                       options.sale + "\"");
    }
    filters.sale = SaleKey{parts[1], parts[2], parts[3]};
  }
  return filters;
}

bool Passes(const LoggedCall& call, const LaterAnswer* later, const Filters& filters) {
  if (filters.failed && (!call.Failed() || (later != nullptr && !filters.all))) return false;
  if (!filters.operation.empty() && FromAnsi(call.operation) != filters.operation) return false;
  if (!filters.cpf.empty() && CpfDigits(FromAnsi(call.CustomerCpf())) != filters.cpf) return false;
  if (filters.sale) {
    const SaleKey& key = *filters.sale;
    if (FromAnsi(call.branch) != key.branch || FromAnsi(call.till) != key.till ||
        FromAnsi(call.sequence) != key.sequence) {
      return false;
    }
  }
  return true;
}

double DayOf(const std::string& date) {
  static const std::regex kDate("([0-9]{4})-([0-9]{2})-([0-9]{2})");
  std::smatch parts;
  std::optional<double> day;
  if (std::regex_match(date, parts, kDate)) {
    DateTimeParts when;
    when.year = std::stoi(parts[1]);
    when.month = std::stoi(parts[2]);
    when.day = std::stoi(parts[3]);
    day = EncodeDateTime(when);
  }
  if (!day) throw UsageError("--date takes a day as YYYY-MM-DD, not \"" + date + "\"");
  return *day;
}

std::vector<std::string> LaterDays(const std::string& base, double day);

// The log to show and the days after it, whose lines may tell what became
// of its failed reports. A file named directly has no days after it.
struct LogSource {
  std::string file;
  std::vector<std::string> later;
};

LogSource LogSourceOf(const LogOptions& options) {
  if (!options.file.empty()) return {options.file, {}};
  const double day = options.date.empty() ? Now() : DayOf(options.date);
  const std::filesystem::path base =
      options.baseDir.empty() ? std::filesystem::current_path() : FileSystemPath(options.baseDir);
  const std::string folder = PathText(std::filesystem::absolute(base).lexically_normal());
  return {LogFilePathIn(folder, day), LaterDays(folder, day)};
}

// A report's operation and sale key: the calls that report the same sale.
std::string ReportKey(const LoggedCall& call) {
  const Operation* operation = OperationNamed(call.operation);
  if (operation == nullptr || !operation->report) return "";
  if (call.branch.empty() && call.till.empty() && call.sequence.empty()) return "";
  return call.operation + '\n' + call.branch + '\n' + call.till + '\n' + call.sequence;
}

// A later call of the same report that got the service's verdict.
struct LaterAnswer {
  std::size_t fileIndex = 0;  // 0 the file shown, then the days after it
  std::size_t line = 0;
  bool accepted = false;
  std::string outbox;  // the resend's P_OUTBOX text; "" for a call of the till's own
  std::string file;
};

// The verdicts of each report in the files, in order, the file shown first:
// what became of a failed report is known only from the lines after it.
class Answers {
 public:
  void Take(std::size_t fileIndex, const std::string& file, const LoggedCall& call) {
    const std::string key = ReportKey(call);
    if (key.empty()) return;
    const std::optional<LoggedVerdict> verdict = call.Verdict(0);
    if (!verdict || call.failure) return;
    verdicts_[key].push_back({fileIndex, call.line, verdict->success, call.outbox, file});
  }

  // The answer that settled a failed call: the first verdict after it. A
  // later one is the service's word on a repeat ("already registered"), not
  // on the report.
  const LaterAnswer* After(const LoggedCall& call) const {
    if (!call.Failed()) return nullptr;
    auto found = verdicts_.find(ReportKey(call));
    if (found == verdicts_.end()) return nullptr;
    for (const LaterAnswer& later : found->second) {
      if (later.fileIndex > 0 || later.line > call.line) return &later;
    }
    return nullptr;
  }

 private:
  std::map<std::string, std::vector<LaterAnswer>> verdicts_;
};

// What became of the call, in a word.
const char* OutcomeWord(const LoggedCall& call, const std::optional<LoggedVerdict>& verdict,
                        const LaterAnswer* later) {
  if (later != nullptr) return later->accepted ? "accepted later" : "declined later";
  if (call.failure) return "failed";
  if (!call.finished) return "cut short";
  return verdict && verdict->success ? "accepted" : "declined";
}

// The text that goes with the word: the service's message, the failure, why
// the block is cut short, or what answered a failed report later.
std::string OutcomeText(const LoggedCall& call, std::optional<LoggedVerdict>&& verdict,
                        const LaterAnswer* later) {
  if (later != nullptr) {
    std::string text = "this call failed";
    if (call.failure) text += ": " + FromServiceBytes(*call.failure);
    text += std::string("; answered later ") +
            (later->outbox.empty() ? "by the till" : "through the outbox") + " (" +
            (later->fileIndex == 0 ? std::string() : later->file + " ") + "line " +
            std::to_string(later->line) + ")";
    return text;
  }
  if (call.failure) return FromServiceBytes(*call.failure);
  if (!call.finished) return "the block ends with neither FIM nor a failure line";
  if (!verdict || verdict->success) return "";
  return FromServiceBytes(std::move(verdict->message));
}

std::string SaleKeyText(const LoggedCall& call) {
  if (call.branch.empty() && call.till.empty() && call.sequence.empty()) return "";
  return FromAnsi(call.branch + "/" + call.till + "/" + call.sequence);
}

std::string DurationText(const LoggedCall& call) {
  std::optional<long long> seconds = SecondsBetween(call.started, call.ended);
  return seconds ? std::to_string(*seconds) + "s" : "?";
}

// A JSON string written straight from the text, without a copy of it: an
// answer may be a gigabyte. The text is UTF-8.
void WriteJsonString(std::ostream& out, std::string_view text) {
  out << '"';
  std::size_t run = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
    out.write(text.data() + run, static_cast<std::streamsize>(at - run));
    run = at + 1;
    switch (byte) {
      case '"':
        out << "\\\"";
        break;
      case '\\':
        out << "\\\\";
        break;
      case '\n':
        out << "\\n";
        break;
      case '\t':
        out << "\\t";
        break;
      default: {
        static const char kHex[] = "0123456789abcdef";
        out << "\\u00" << kHex[byte >> 4] << kHex[byte & 15];
      }
    }
  }
  out.write(text.data() + run, static_cast<std::streamsize>(text.size() - run));
  out << '"';
}

// Bytes as the service sent them: UTF-8 as they are, else read as Windows-1252.
void WriteJsonText(std::ostream& out, std::string_view bytes) {
  if (IsValidUtf8(bytes)) return WriteJsonString(out, bytes);
  WriteJsonString(out, FromServiceBytes(bytes));
}

// One call as a JSON object. The short fields go through the JSON library;
// the request, the answer and the message, which may be huge, are written
// from the call's own strings, and the verdict is read in the answer's bytes
// once they are written.
void WriteCallJson(std::ostream& out, LoggedCall&& call, const LaterAnswer* later) {
  std::optional<long long> seconds = SecondsBetween(call.started, call.ended);
  nlohmann::ordered_json others = nlohmann::ordered_json::object();
  for (auto& [label, value] : call.others) others[FromAnsi(label)] = FromServiceBytes(value);
  nlohmann::ordered_json answeredLater = nullptr;
  if (later != nullptr) {
    answeredLater = {
        {"file", later->file},
        {"line", later->line},
        {"outcome", later->accepted ? "accepted" : "declined"},
        {"outbox", later->outbox.empty() ? nlohmann::ordered_json(nullptr)
                                         : nlohmann::ordered_json(FromAnsi(later->outbox))}};
  }
  const nlohmann::ordered_json head = {
      {"line", call.line},
      {"started", StampToIso(call.started)},
      {"ended", StampToIso(call.ended)},
      {"seconds", seconds ? nlohmann::ordered_json(*seconds) : nlohmann::ordered_json(nullptr)},
      {"operation", FromAnsi(call.operation)},
      {"cpf", FromAnsi(call.CustomerCpf())},
      {"filial", FromAnsi(call.branch)},
      {"caixa", FromAnsi(call.till)},
      {"seq", FromAnsi(call.sequence)},
      {"promocode", FromAnsi(call.promocode)},
      {"url", FromAnsi(call.url)},
      {"outbox", call.outbox.empty() ? nlohmann::ordered_json(nullptr)
                                     : nlohmann::ordered_json(FromAnsi(call.outbox))},
      {"answered_later", std::move(answeredLater)},
      {"failure", call.failure ? nlohmann::ordered_json(FromServiceBytes(*call.failure))
                               : nlohmann::ordered_json(nullptr)},
      {"other_lines", std::move(others)},
  };
  std::string text = head.dump(2);
  text.resize(text.size() - 2);  // the closing "\n}"
  out << text << ",\n  \"request\": ";
  WriteJsonString(out, FromAnsi(std::move(call.request)));
  out << ",\n  \"answer\": ";
  if (call.answer) {
    WriteJsonText(out, *call.answer);
  } else {
    out << "null";
  }
  std::optional<LoggedVerdict> verdict = call.TakeVerdict(std::string::npos);
  out << ",\n  \"outcome\": \"" << OutcomeWord(call, verdict, later) << "\",\n  \"message\": ";
  if (verdict) {
    WriteJsonText(out, verdict->message);
  } else {
    out << "null";
  }
  out << "\n}";
}

// A table row's last column is cut here: the whole text is in --json.
constexpr std::size_t kTextShown = 400;

std::string Shortened(std::string text) {
  if (text.size() <= kTextShown) return text;
  std::size_t cut = kTextShown;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text + "…";
}

// One line a call, in columns as wide as their widest entry; the outcome,
// whose text may be long, comes last. Only the short columns are kept until
// the end, so the widths can be known.
class Table {
 public:
  void Add(LoggedCall&& call, const LaterAnswer* later) {
    std::optional<LoggedVerdict> logged = call.TakeVerdict(kTextShown + 1);
    std::string verdict = OutcomeWord(call, logged, later);
    std::string text = OutcomeText(call, std::move(logged), later);
    if (!text.empty()) verdict += ": " + Shortened(std::move(text));
    if (!call.outbox.empty()) verdict += " (outbox " + FromAnsi(call.outbox) + ")";
    auto orDash = [](std::string text) { return text.empty() ? std::string("-") : text; };
    const std::string time = call.started.size() > 11 ? call.started.substr(11) : "00:00:00";
    // A multi-line failure or message stays on the call's line.
    std::replace(verdict.begin(), verdict.end(), '\n', ' ');
    rows_.push_back({time, orDash(FromAnsi(call.operation)), orDash(FromAnsi(call.CustomerCpf())),
                     orDash(SaleKeyText(call)), DurationText(call), verdict});
    for (std::size_t column = 0; column < kColumns; ++column) {
      widths_[column] = std::max(widths_[column], DisplayWidth(rows_.back()[column]));
    }
  }

  void Print(std::ostream& out) const {
    for (const auto& row : rows_) {
      std::string line;
      for (std::size_t column = 0; column + 1 < kColumns; ++column) {
        line += PadRight(row[column], widths_[column]) + "  ";
      }
      out << line << row.back() << '\n';
    }
  }

 private:
  static constexpr std::size_t kColumns = 6;
  std::vector<std::array<std::string, kColumns>> rows_;
  std::array<std::size_t, kColumns> widths_{};
};

// A log that is not a plain file (a pipe from zcat) is copied to a temporary
// file first: it is read twice, and a pipe can be read once.
class Spool {
 public:
  ~Spool() {
    if (!path_.empty()) std::filesystem::remove(path_);
  }
  // The file to read: `file` itself, or the copy of it.
  std::string Of(const std::string& file) {
    std::error_code error;
    if (std::filesystem::is_regular_file(FileSystemPath(file), error)) return file;
    std::ifstream in(FileSystemPath(file), std::ios::binary);
    if (!in) return file;
    std::string pattern = (std::filesystem::temp_directory_path() / "lumirex-log-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return file;
    ::close(fd);
    path_ = pattern;
    std::ofstream copy(FileSystemPath(path_), std::ios::binary | std::ios::trunc);
    copy << in.rdbuf();
    return path_;
  }

 private:
  std::string path_;
};

// The logs of the days after `day` that exist, up to today: where the
// outbox's later attempts at a day's failed reports are.
std::vector<std::string> LaterDays(const std::string& base, double day) {
  std::vector<std::string> files;
  const double today = std::floor(Now());
  for (double next = std::floor(day) + 1; next <= today; ++next) {
    std::string file = LogFilePathIn(base, next);
    std::error_code error;
    if (std::filesystem::is_regular_file(FileSystemPath(file), error)) {
      files.push_back(std::move(file));
    }
  }
  return files;
}

void ReadAnswers(const std::string& file, std::size_t fileIndex, Answers& answers) {
  std::ifstream in(FileSystemPath(file), std::ios::binary);
  ReadLog(
      in, [&](LoggedCall&& call) { answers.Take(fileIndex, file, call); }, [](StrayLine&&) {});
}

}  // namespace

void AddLogOptions(CLI::App& sub, LogOptions& options) {
  sub.add_option(
      "--base-dir", options.baseDir,
      "Base folder of the till, whose log is read from BASE/Dados/LogIntegracaoOrvo/...\n"
      "(default: $LUMIREX_BASE_DIR, else the current folder)");
  auto* date = sub.add_option("--date", options.date,
                              "The day whose log to read, YYYY-MM-DD "
                              "(default: today)");
  auto* file = sub.add_option("--file", options.file, "Read this log file instead");
  date->excludes(file);
  auto* failed =
      sub.add_flag("--failed", options.failed,
                   "Only the calls that failed (a failure line, or a block cut short) and whose\n"
                   "report no later call got an answer for: what may need reporting again");
  sub.add_flag("--all", options.all,
               "With --failed, also the failed reports the outbox or the till answered later")
      ->needs(failed);
  sub.add_option("--operation", options.operation,
                 "Only the calls of this operation: CONSULTA, VALIDA_PROMOCODE, VENDA, VENDA_CANC");
  sub.add_option("--sale", options.sale, "Only the calls of this sale: FILIAL/CAIXA/SEQ");
  sub.add_option("--cpf", options.cpf, "Only the calls for this CPF (dots and hyphens ignored)");
  sub.add_flag("--json", options.json,
               "Print every call with its fields, request and answer, and the lines that\n"
               "belong to no call, as one JSON document");
}

int ShowLog(const LogOptions& options, std::ostream& out, std::ostream& err) {
  const Filters filters = FiltersOf(options);
  const LogSource source = LogSourceOf(options);
  const std::string& file = source.file;
  Spool spool;
  const std::string readable = spool.Of(file);
  std::ifstream in(FileSystemPath(readable), std::ios::binary);
  if (!in) {
    err << "lumirex: cannot read the log '" << file << "': " << std::strerror(errno) << '\n';
    return kExitLogUnreadable;
  }
  // First what became of each report, then the calls with it.
  Answers answers;
  ReadAnswers(readable, 0, answers);
  for (std::size_t day = 0; day < source.later.size(); ++day) {
    ReadAnswers(source.later[day], day + 1, answers);
  }
  Table table;
  std::vector<StrayLine> unparsed;
  bool first = true;
  if (options.json) {
    out << "{\n\"file\": " << nlohmann::json(FromServiceBytes(file)).dump() << ",\n\"calls\": [";
  }
  ReadLog(
      in,
      [&](LoggedCall&& call) {
        const LaterAnswer* later = answers.After(call);
        if (!Passes(call, later, filters)) return;
        if (!options.json) return table.Add(std::move(call), later);
        out << (first ? "\n" : ",\n");
        WriteCallJson(out, std::move(call), later);
        first = false;
      },
      [&](StrayLine&& stray) {
        if (options.json) return unparsed.push_back(std::move(stray));
        err << "lumirex: line " << stray.line
            << ": not part of any call: " << FromServiceBytes(stray.text) << '\n';
      });
  if (in.bad()) {
    err << "lumirex: reading the log '" << file << "' failed\n";
    return kExitLogUnreadable;
  }
  if (!options.json) {
    table.Print(out);
    return 0;
  }
  out << "\n],\n\"unparsed\": [";
  first = true;
  for (StrayLine& stray : unparsed) {
    nlohmann::ordered_json line = {{"line", stray.line},
                                   {"text", FromServiceBytes(std::move(stray.text))}};
    out << (first ? "\n" : ",\n") << line.dump();
    first = false;
  }
  out << "\n]\n}\n";
  return 0;
}

}  // namespace lumirex::cli
