#include "cli/log_reader.hpp"

#include <cctype>
#include <cmath>
#include <pugixml.hpp>
#include <string_view>

#include "support/datetime.hpp"
#include "support/log_format.hpp"

namespace lumirex::cli {

namespace {

using log_format::kFailureLabel;
using log_format::kSeparatorLine;
using log_format::kStampSeparator;

struct Field {
  std::string_view label;
  std::string LoggedCall::*member;
};

constexpr Field kFields[] = {
    {log_format::kOperation, &LoggedCall::operation},
    {log_format::kCpf, &LoggedCall::cpf},
    {log_format::kBranch, &LoggedCall::branch},
    {log_format::kTill, &LoggedCall::till},
    {log_format::kSequence, &LoggedCall::sequence},
    {log_format::kPromocode, &LoggedCall::promocode},
    {log_format::kUrl, &LoggedCall::url},
    {log_format::kDocument, &LoggedCall::request},
    {log_format::kTimeout, &LoggedCall::timeout},
    {log_format::kOutbox, &LoggedCall::outbox},
};
constexpr std::string_view kAnswerLabel = log_format::kAnswer;

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
  std::size_t textAt = 0;  // where the text after " - " begins
};

// A physical line that begins with a time stamp and " - ".
std::optional<StampedLine> SplitStamp(std::string_view line) {
  for (std::size_t width : {19u, 10u}) {
    if (line.size() < width + kStampSeparator.size()) continue;
    if (line.compare(width, kStampSeparator.size(), kStampSeparator) != 0) continue;
    if (!StampParts(line.substr(0, width))) continue;
    return StampedLine{std::string(line.substr(0, width)), width + kStampSeparator.size()};
  }
  return std::nullopt;
}

// The line from `at` on, taken over without a copy: a value may be a whole
// answer of the service.
std::string Rest(std::string& line, std::size_t at) {
  line.erase(0, at);
  return std::move(line);
}

// "NAME         = " of a line the reader has no field for: upper-case name,
// blanks, "= ". npos when the text has no such label.
std::size_t UnknownLabelEnd(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() &&
         (std::isupper(static_cast<unsigned char>(text[at])) ||
          std::isdigit(static_cast<unsigned char>(text[at])) || text[at] == '_')) {
    ++at;
  }
  if (at == 0) return std::string_view::npos;
  const std::size_t name = at;
  while (at < text.size() && text[at] == ' ') ++at;
  if (at == name || !text.substr(at).starts_with("= ")) return std::string_view::npos;
  return at + 2;
}

// Reads line by line and hands each block over once nothing more can join
// it: after "FIM", or when the next stamped line is not the "FIM" that may
// follow a failure line, or at the end of the file.
class Reader {
 public:
  Reader(const std::function<void(LoggedCall&&)>& onCall,
         const std::function<void(StrayLine&&)>& onStray)
      : onCall_(onCall), onStray_(onStray) {}

  void Take(std::size_t number, std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::optional<StampedLine> stamped = SplitStamp(line);
    if (!stamped) {
      if (continued_ != nullptr) {
        *continued_ += '\n';
        *continued_ += line;
      } else {
        onStray_({number, std::move(line)});
      }
      return;
    }
    continued_ = nullptr;
    const std::string_view text = std::string_view(line).substr(stamped->textAt);
    const bool finishesFailed = justFailed_ && text == log_format::kEnd;
    justFailed_ = false;
    if (call_ && !open_ && !finishesFailed) Hand();
    if (!Entry(number, stamped->stamp, line, stamped->textAt)) onStray_({number, std::move(line)});
  }

  void Finish() {
    if (call_) Hand();
  }

 private:
  // False when the line has no place in a call.
  bool Entry(std::size_t number, const std::string& stamp, std::string& line, std::size_t at) {
    const std::string_view text = std::string_view(line).substr(at);
    if (text == kSeparatorLine) {
      Open(number, stamp);
      return true;
    }
    if (text.starts_with(kFailureLabel)) {
      // A failure before the call logged anything is a call of its own.
      if (!open_) Open(number, stamp);
      call_->failure = Rest(line, at + kFailureLabel.size());
      continued_ = &*call_->failure;
      justFailed_ = true;
      Close(stamp);
      return true;
    }
    if (text == log_format::kEnd) {
      if (!call_) return false;
      call_->finished = true;
      Close(stamp);
      Hand();
      return true;
    }
    if (!open_) return false;
    if (text == log_format::kStart) return Extend(stamp);
    if (text.starts_with(kAnswerLabel)) {
      call_->answer = Rest(line, at + kAnswerLabel.size());
      continued_ = &*call_->answer;
      return Extend(stamp);
    }
    for (const Field& field : kFields) {
      if (!text.starts_with(field.label)) continue;
      std::string& value = call_.value().*field.member;
      value = Rest(line, at + field.label.size());
      continued_ = &value;
      return Extend(stamp);
    }
    const std::size_t labelEnd = UnknownLabelEnd(text);
    if (labelEnd == std::string_view::npos) return false;
    std::string name(text.substr(0, text.find(' ')));
    call_->others.emplace_back(std::move(name), Rest(line, at + labelEnd));
    continued_ = &call_->others.back().second;
    return Extend(stamp);
  }

  void Open(std::size_t number, const std::string& stamp) {
    // A block that a new one interrupts stays as it was: cut short.
    if (call_) Hand();
    call_.emplace();
    call_->line = number;
    call_->started = call_->ended = stamp;
    open_ = true;
  }

  bool Extend(const std::string& stamp) {
    call_->ended = stamp;
    return true;
  }

  void Close(const std::string& stamp) {
    call_->ended = stamp;
    open_ = false;
  }

  void Hand() {
    LoggedCall done = std::move(*call_);
    call_.reset();
    open_ = false;
    continued_ = nullptr;
    onCall_(std::move(done));
  }

  const std::function<void(LoggedCall&&)>& onCall_;
  const std::function<void(StrayLine&&)>& onStray_;
  std::optional<LoggedCall> call_;    // the block being read, or one that may still get "FIM"
  bool open_ = false;                 // call_ takes further lines
  bool justFailed_ = false;           // the line just read was a failure line
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

namespace {

std::optional<LoggedVerdict> VerdictOf(const pugi::xml_document& document,
                                       std::size_t messageBytes) {
  pugi::xml_node success = document.document_element().child("success");
  if (!success) return std::nullopt;
  std::string_view message = document.document_element().child("message").text().get();
  if (message.size() > messageBytes) {
    std::size_t cut = messageBytes;
    while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;
    message = message.substr(0, cut);
  }
  return LoggedVerdict{std::string_view(success.text().get()) == "true", std::string(message)};
}

}  // namespace

std::optional<LoggedVerdict> LoggedCall::Verdict(std::size_t messageBytes) const {
  if (!answer) return std::nullopt;
  pugi::xml_document document;
  if (!document.load_buffer(answer->data(), answer->size())) return std::nullopt;
  return VerdictOf(document, messageBytes);
}

std::optional<LoggedVerdict> LoggedCall::TakeVerdict(std::size_t messageBytes) {
  if (!answer) return std::nullopt;
  std::string bytes = std::move(*answer);
  answer.reset();
  pugi::xml_document document;
  if (!document.load_buffer_inplace(bytes.data(), bytes.size())) return std::nullopt;
  return VerdictOf(document, messageBytes);
}

void ReadLog(std::istream& in, const std::function<void(LoggedCall&&)>& onCall,
             const std::function<void(StrayLine&&)>& onStray) {
  Reader reader(onCall, onStray);
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    reader.Take(number, std::move(line));
  }
  reader.Finish();
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
