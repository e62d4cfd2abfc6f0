// Everything one run measured, and its rendering as the Markdown of
// docs/performance.md (figures, ratios and the targets met or missed).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "collector.hpp"
#include "log_reading.hpp"
#include "machine.hpp"
#include "peak_memory.hpp"

namespace lumirex::bench {

struct AnswerSize {
  int promocodes = 0;
  std::size_t answerBytes = 0;
  std::optional<Timing> call;   // the CONSULTA call through the C ABI
  std::optional<Timing> raw;    // a bare libcurl GET of the same URL
  std::optional<Timing> parse;  // pugixml loading the same text alone
};

struct ConsecutiveCalls {
  int calls = 0;
  int succeeded = 0;
  std::size_t connections = 0;  // accepted by a sandbox that served nothing before
  double seconds = 0;
};

struct PeakOfCall {
  int promocodes = 0;
  std::size_t answerBytes = 0;
  std::optional<PeakMemory> peak;
  std::string error;  // why there is no figure
};

struct Figures {
  std::vector<AnswerSize> consulta;  // the first is the 10-promocode answer
  std::optional<Timing> vendaCall, vendaRaw, vendaOutbox;
  std::size_t vendaBodyBytes = 0, vendaAnswerBytes = 0;
  ConsecutiveCalls consecutive;
  // The largest answer first; smaller ones follow when a larger call failed.
  std::vector<PeakOfCall> peaks;
  std::optional<Timing> logLine, logCallLines, logAnswerLine;
  std::size_t logCallBytes = 0;
  AnswerSize logAnswer;  // the answer whose RETORNO line logAnswerLine is
  LogReadingPeak logReading;
};

// Section 7 alone, for a run that measures nothing else.
std::string LogReadingMarkdown(const LogReadingPeak& peak);

// The figures and the targets, for the console and the file alike.
std::string FiguresMarkdown(const Figures& figures);

// The whole file: title, machine, figures, then the notes (Markdown, may be empty).
std::string PerformanceDocument(const Machine& machine, const Figures& figures,
                                const std::string& notes);

}  // namespace lumirex::bench
