#include "cli/log_command.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <vector>

#include "cli/display_text.hpp"
#include "cli/log_reader.hpp"
#include "cli/usage_error.hpp"
#include "support/datetime.hpp"
#include "support/log.hpp"

namespace lumirex::cli {

namespace {

struct SaleKey {
  std::string branch, till, sequence;
};

// What the filters compare with, read from the command line once.
struct Filters {
  bool failed = false;
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
  Filters filters{options.failed, options.operation, std::nullopt, CpfDigits(options.cpf)};
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

bool Passes(const LoggedCall& call, const Filters& filters) {
  if (filters.failed && !call.Failed()) return false;
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

std::string LogFileOf(const LogOptions& options) {
  if (!options.file.empty()) return options.file;
  const double day = options.date.empty() ? Now() : DayOf(options.date);
  const std::filesystem::path base = options.baseDir.empty()
                                         ? std::filesystem::current_path()
                                         : std::filesystem::path(options.baseDir);
  return LogFilePathIn(std::filesystem::absolute(base).lexically_normal().string(), day);
}

// What became of the call, in a word, and the text that goes with it.
struct Outcome {
  const char* word;
  std::string text;  // the service's message, the failure, or why the block is cut short
};

Outcome OutcomeOf(const LoggedCall& call) {
  if (call.failure) return {"failed", FromServiceBytes(*call.failure)};
  if (!call.finished) return {"cut short", "the block ends with neither FIM nor a failure line"};
  std::optional<LoggedVerdict> verdict = call.Verdict();
  if (verdict && verdict->success) return {"accepted", ""};
  return {"declined", verdict ? FromServiceBytes(verdict->message) : std::string()};
}

std::string SaleKeyText(const LoggedCall& call) {
  if (call.branch.empty() && call.till.empty() && call.sequence.empty()) return "";
  return FromAnsi(call.branch + "/" + call.till + "/" + call.sequence);
}

std::string DurationText(const LoggedCall& call) {
  std::optional<long long> seconds = SecondsBetween(call.started, call.ended);
  return seconds ? std::to_string(*seconds) + "s" : "?";
}

nlohmann::json CallToJson(const LoggedCall& call) {
  const Outcome outcome = OutcomeOf(call);
  auto optionalText = [](const std::optional<std::string>& text) -> nlohmann::json {
    if (!text) return nullptr;
    return FromServiceBytes(*text);
  };
  std::optional<long long> seconds = SecondsBetween(call.started, call.ended);
  std::optional<LoggedVerdict> verdict = call.Verdict();
  return {
      {"line", call.line},
      {"started", StampToIso(call.started)},
      {"ended", StampToIso(call.ended)},
      {"seconds", seconds ? nlohmann::json(*seconds) : nlohmann::json(nullptr)},
      {"operation", FromAnsi(call.operation)},
      {"cpf", FromAnsi(call.CustomerCpf())},
      {"filial", FromAnsi(call.branch)},
      {"caixa", FromAnsi(call.till)},
      {"seq", FromAnsi(call.sequence)},
      {"promocode", FromAnsi(call.promocode)},
      {"url", FromAnsi(call.url)},
      {"outbox", call.outbox.empty() ? nlohmann::json(nullptr) : nlohmann::json(call.outbox)},
      {"outcome", outcome.word},
      {"message", verdict ? nlohmann::json(FromServiceBytes(verdict->message)) : nullptr},
      {"failure", optionalText(call.failure)},
      {"request", FromAnsi(call.request)},
      {"answer", optionalText(call.answer)},
  };
}

void PrintJson(const std::string& file, const std::vector<const LoggedCall*>& calls,
               const std::vector<StrayLine>& unparsed, std::ostream& out) {
  nlohmann::json document = {
      {"file", file}, {"calls", nlohmann::json::array()}, {"unparsed", nlohmann::json::array()}};
  for (const LoggedCall* call : calls) document["calls"].push_back(CallToJson(*call));
  for (const StrayLine& stray : unparsed) {
    document["unparsed"].push_back({{"line", stray.line}, {"text", FromServiceBytes(stray.text)}});
  }
  out << document.dump(2) << '\n';
}

// One line a call, in columns as wide as their widest entry; the outcome,
// whose text may be long, comes last.
void PrintTable(const std::vector<const LoggedCall*>& calls, std::ostream& out) {
  constexpr std::size_t kColumns = 6;
  std::vector<std::array<std::string, kColumns>> rows;
  std::array<std::size_t, kColumns> widths{};
  for (const LoggedCall* call : calls) {
    const Outcome outcome = OutcomeOf(*call);
    std::string verdict = outcome.word;
    if (!outcome.text.empty()) verdict += ": " + outcome.text;
    if (!call->outbox.empty()) verdict += " (outbox " + call->outbox + ")";
    auto orDash = [](std::string text) { return text.empty() ? std::string("-") : text; };
    const std::string time = call->started.size() > 11 ? call->started.substr(11) : "00:00:00";
    rows.push_back({time, orDash(FromAnsi(call->operation)), orDash(FromAnsi(call->CustomerCpf())),
                    orDash(SaleKeyText(*call)), DurationText(*call), verdict});
    for (std::size_t column = 0; column < kColumns; ++column) {
      widths[column] = std::max(widths[column], DisplayWidth(rows.back()[column]));
    }
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t column = 0; column + 1 < kColumns; ++column) {
      line += PadRight(row[column], widths[column]) + "  ";
    }
    // A multi-line failure or message stays on the call's line.
    std::string last = row.back();
    std::replace(last.begin(), last.end(), '\n', ' ');
    out << line << last << '\n';
  }
}

}  // namespace

void AddLogOptions(CLI::App& sub, LogOptions& options) {
  sub.add_option(
         "--base-dir", options.baseDir,
         "Base folder of the till, whose log is read from BASE/Dados/LogIntegracaoOrvo/...\n"
         "(default: $LUMIREX_BASE_DIR, else the current folder)")
      ->envname("LUMIREX_BASE_DIR");
  auto* date = sub.add_option("--date", options.date,
                              "The day whose log to read, YYYY-MM-DD "
                              "(default: today)");
  auto* file = sub.add_option("--file", options.file, "Read this log file instead");
  date->excludes(file);
  sub.add_flag("--failed", options.failed,
               "Only the calls that failed (a failure line, or a block cut short)");
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
  const std::string file = LogFileOf(options);
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    err << "lumirex: cannot read the log '" << file << "': " << std::strerror(errno) << '\n';
    return kExitLogUnreadable;
  }
  const LogReading reading = ReadLog(in);
  if (in.bad()) {
    err << "lumirex: reading the log '" << file << "' failed\n";
    return kExitLogUnreadable;
  }
  std::vector<const LoggedCall*> shown;
  for (const LoggedCall& call : reading.calls) {
    if (Passes(call, filters)) shown.push_back(&call);
  }
  if (options.json) {
    PrintJson(file, shown, reading.unparsed, out);
    return 0;
  }
  PrintTable(shown, out);
  for (const StrayLine& stray : reading.unparsed) {
    err << "lumirex: line " << stray.line
        << ": not part of any call: " << FromServiceBytes(stray.text) << '\n';
  }
  return 0;
}

}  // namespace lumirex::cli
