#include "cli/log_reader.hpp"

#include <cmath>
#include <deque>
#include <pugixml.hpp>
#include <string_view>

#include "support/datetime.hpp"

namespace lumirex::cli {

namespace {

constexpr std::string_view kStampSeparator = " - ";
constexpr std::string_view kSeparatorLine = "--------------------------------------------------";
constexpr std::string_view kFailureLabel = "Exception IntegracaoLumirex: ";

struct Field {
  std::string_view label;
  std::string LoggedCall::*member;
};

constexpr Field kFields[] = {
    {"P_OPERACAO   = ", &LoggedCall::operation}, {"P_CPF        = ", &LoggedCall::cpf},
    {"P_CDFILIAL   = ", &LoggedCall::branch},    {"P_CDCAIXA    = ", &LoggedCall::till},
    {"P_NRSEQVENDA = ", &LoggedCall::sequence},  {"P_PROMOCODE  = ", &LoggedCall::promocode},
    {"P_URL        = ", &LoggedCall::url},       {"P_XML        = ", &LoggedCall::request},
    {"P_TIMEOUT    = ", &LoggedCall::timeout},   {"P_OUTBOX     = ", &LoggedCall::outbox},
};
constexpr std::string_view kAnswerLabel = "RETORNO      = ";

bool Digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The parts of "dd/mm/yyyy" or "dd/mm/yyyy hh:nn:ss" (midnight has no time).
std::optional<DateTimeParts> StampParts(std::string_view stamp) {
  if (stamp.size() != 10 && stamp.size() != 19) return std::nullopt;
  if (stamp[2] != '/' || stamp[5] != '/') return std::nullopt;
  if (stamp.size() == 19 && (stamp[10] != ' ' || stamp[13] != ':' || stamp[16] != ':')) {
    return std::nullopt;
  }
  auto number = [&stamp](std::size_t at, std::size_t width) -> std::optional<int> {
    std::string_view part = stamp.substr(at, width);
    if (!Digits(part)) return std::nullopt;
    return std::stoi(std::string(part));
  };
  DateTimeParts parts;
  auto day = number(0, 2), month = number(3, 2), year = number(6, 4);
  if (!day || !month || !year) return std::nullopt;
  parts.day = *day;
  parts.month = *month;
  parts.year = *year;
  if (stamp.size() == 19) {
    auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!hour || !minute || !second) return std::nullopt;
    parts.hour = *hour;
    parts.minute = *minute;
    parts.second = *second;
  }
  if (!EncodeDateTime(parts)) return std::nullopt;
  return parts;
}

struct StampedLine {
  std::string stamp;
  std::string text;
};

// A physical line that begins with a time stamp and " - ".
std::optional<StampedLine> SplitStamp(const std::string& line) {
  for (std::size_t width : {19u, 10u}) {
    if (line.size() < width + kStampSeparator.size()) continue;
    if (line.compare(width, kStampSeparator.size(), kStampSeparator) != 0) continue;
    if (!StampParts(std::string_view(line).substr(0, width))) continue;
    return StampedLine{line.substr(0, width), line.substr(width + kStampSeparator.size())};
  }
  return std::nullopt;
}

// Reads line by line; calls live in a deque so that the entry a continuation
// line extends can be held by pointer while later calls are added.
class Reader {
 public:
  void Take(std::size_t number, std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::optional<StampedLine> stamped = SplitStamp(line);
    if (!stamped) {
      if (continued_ != nullptr) {
        *continued_ += '\n';
        *continued_ += line;
      } else {
        Stray(number, std::move(line));
      }
      return;
    }
    LoggedCall* justFailed = failed_;
    failed_ = nullptr;
    continued_ = nullptr;
    if (!Entry(number, *stamped, justFailed)) Stray(number, std::move(line));
  }

  LogReading Finish() {
    LogReading reading;
    reading.calls.assign(std::make_move_iterator(calls_.begin()),
                         std::make_move_iterator(calls_.end()));
    reading.unparsed = std::move(unparsed_);
    return reading;
  }

 private:
  // False when the line has no place in a call.
  bool Entry(std::size_t number, const StampedLine& line, LoggedCall* justFailed) {
    const std::string& text = line.text;
    if (text == kSeparatorLine) {
      Open(number, line.stamp);
      return true;
    }
    if (text.starts_with(kFailureLabel)) {
      // A failure before the call logged anything is a call of its own.
      if (open_ == nullptr) Open(number, line.stamp);
      open_->failure = text.substr(kFailureLabel.size());
      continued_ = &*open_->failure;
      failed_ = open_;
      Close(line.stamp);
      return true;
    }
    if (text == "FIM") {
      LoggedCall* call = open_ != nullptr ? open_ : justFailed;
      if (call == nullptr) return false;
      call->finished = true;
      call->ended = line.stamp;
      open_ = nullptr;
      return true;
    }
    if (open_ == nullptr) return false;
    if (text == "INICIO") return Extend(line.stamp);
    if (text.starts_with(kAnswerLabel)) {
      open_->answer = text.substr(kAnswerLabel.size());
      continued_ = &*open_->answer;
      return Extend(line.stamp);
    }
    for (const Field& field : kFields) {
      if (!text.starts_with(field.label)) continue;
      std::string& value = open_->*field.member;
      value = text.substr(field.label.size());
      continued_ = &value;
      return Extend(line.stamp);
    }
    return false;
  }

  void Open(std::size_t number, const std::string& stamp) {
    // A block that a new one interrupts stays as it was: cut short.
    LoggedCall& call = calls_.emplace_back();
    call.line = number;
    call.started = call.ended = stamp;
    open_ = &call;
  }

  bool Extend(const std::string& stamp) {
    open_->ended = stamp;
    return true;
  }

  void Close(const std::string& stamp) {
    open_->ended = stamp;
    open_ = nullptr;
  }

  void Stray(std::size_t number, std::string line) {
    unparsed_.push_back({number, std::move(line)});
  }

  std::deque<LoggedCall> calls_;
  std::vector<StrayLine> unparsed_;
  LoggedCall* open_ = nullptr;        // the block being read
  LoggedCall* failed_ = nullptr;      // closed by the line just read, a failure
  std::string* continued_ = nullptr;  // the value an unstamped line extends
};

}  // namespace

std::string LoggedCall::CustomerCpf() const {
  if (!cpf.empty() || request.empty()) return cpf;
  pugi::xml_document document;
  if (!document.load_buffer(request.data(), request.size())) return cpf;
  pugi::xml_node found = document.find_node(
      [](pugi::xml_node node) { return std::string_view(node.name()) == "cpf"; });
  return found.text().get();
}

std::optional<LoggedVerdict> LoggedCall::Verdict() const {
  if (!answer) return std::nullopt;
  pugi::xml_document document;
  if (!document.load_buffer(answer->data(), answer->size())) return std::nullopt;
  pugi::xml_node success = document.document_element().child("success");
  if (!success) return std::nullopt;
  return LoggedVerdict{std::string_view(success.text().get()) == "true",
                       document.document_element().child("message").text().get()};
}

LogReading ReadLog(std::istream& in) {
  Reader reader;
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    reader.Take(number, std::move(line));
  }
  return reader.Finish();
}

std::optional<long long> SecondsBetween(const std::string& from, const std::string& to) {
  auto start = StampParts(from), end = StampParts(to);
  if (!start || !end) return std::nullopt;
  const double days = *EncodeDateTime(*end) - *EncodeDateTime(*start);
  return std::llround(days * 86400.0);
}

std::string StampToIso(const std::string& stamp) {
  auto parts = StampParts(stamp);
  if (!parts) return stamp;
  std::string iso = stamp.substr(6, 4) + "-" + stamp.substr(3, 2) + "-" + stamp.substr(0, 2) + "T";
  AppendTimeOfDay(iso, *parts);
  return iso;
}

}  // namespace lumirex::cli
