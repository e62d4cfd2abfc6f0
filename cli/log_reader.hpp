// The integration log read back into the calls that wrote it.
//
// A call is the block from the separator line to "FIM" or to its failure line
// ("Exception IntegracaoLumirex: ..."); after an answer that could not be read
// the failure line is followed by "FIM" in the same call, and a failure before
// the call could log anything else is a block of that line alone. A physical
// line without a time stamp continues the entry before it (a request or an
// answer with line feeds). Texts are kept as the file holds them: the
// library's own in Windows-1252, the service's answers as they came.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumirex::cli {

// The service's verdict as an answer document states it.
struct LoggedVerdict {
  bool success = false;
  std::string message;  // the bytes of the document's message element
};

struct LoggedCall {
  std::size_t line = 0;  // where the block starts, counted from 1
  std::string started;   // time stamps as written: "dd/mm/yyyy hh:nn:ss"
  std::string ended;     // the stamp of the block's last line
  std::string operation, cpf, branch, till, sequence, promocode, url, timeout;
  std::string outbox;   // a resend of a kept report: "report N kept <when>, attempt M"
  std::string request;  // P_XML
  // Lines of the block with a label this reader does not know ("NAME = value"),
  // by name: a later library may log more than this one reads.
  std::vector<std::pair<std::string, std::string>> others;
  std::optional<std::string> answer;   // RETORNO, absent when none was logged
  std::optional<std::string> failure;  // the failure line's text after its label
  bool finished = false;               // "FIM" was written

  // A call that did not end in "FIM" without a failure: a failure line, or
  // a block cut short (the process ended in the middle of the call).
  bool Failed() const { return failure.has_value() || !finished; }
  // The customer's CPF: the parameter, else (a sale report has none) the
  // order document's cpf element.
  std::string CustomerCpf() const;
  // The verdict of the logged answer; nullopt when there is none or it is
  // not a response document with a success element. The message is cut to
  // `messageBytes` (at a character's start), so a reader that shows only its
  // beginning does not hold a huge one twice.
  std::optional<LoggedVerdict> Verdict(std::size_t messageBytes = std::string::npos) const;
  // The same, read in the answer's own bytes instead of a copy of them: the
  // answer is gone afterwards.
  std::optional<LoggedVerdict> TakeVerdict(std::size_t messageBytes);
};

// A line that belongs to no call, or that no call has a place for.
struct StrayLine {
  std::size_t line = 0;
  std::string text;  // without its line break
};

// Reads the log one block at a time: each call is handed over as soon as its
// block has ended, and stray lines as they come, so memory follows the
// largest block, never the file.
void ReadLog(std::istream& in, const std::function<void(LoggedCall&&)>& onCall,
             const std::function<void(StrayLine&&)>& onStray);

// Seconds from the first to the second time stamp; nullopt when either is
// not a stamp "dd/mm/yyyy[ hh:nn:ss]".
std::optional<long long> SecondsBetween(const std::string& from, const std::string& to);

// "yyyy-mm-ddThh:nn:ss" of a time stamp; the stamp unchanged when it is not one.
std::string StampToIso(const std::string& stamp);

}  // namespace lumirex::cli
