// The timed benchmarks, registered with Google Benchmark under the names
// below, and the two measurements that are counts rather than times.
#pragma once

#include <string>

#include "figures.hpp"
#include "world.hpp"

namespace lumirex::bench {

std::string ConsultaCallName(int promocodes);
std::string ConsultaRawName(int promocodes);
std::string ConsultaParseName(int promocodes);
inline constexpr const char* kVendaCall = "venda_call";
inline constexpr const char* kVendaRaw = "venda_raw";
// The same call with the outbox on: the report kept before it is sent, its
// verdict recorded after.
inline constexpr const char* kVendaOutbox = "venda_call_outbox";
inline constexpr const char* kLogLine = "log_line";
inline constexpr const char* kLogCallLines = "log_call_lines";
inline constexpr const char* kLogAnswerLine = "log_answer_line";
// The answer whose RETORNO line kLogAnswerLine writes.
inline constexpr int kLogAnswerPromocodes = 10000;

void RegisterBenchmarks(World& world);

// `calls` CONSULTA calls in a row against a sandbox of their own.
ConsecutiveCalls CountConnections(int calls);

// The thirteen texts a CONSULTA call logs for that answer size.
std::vector<std::string> ConsultaLogTexts(const World& world, int promocodes);

}  // namespace lumirex::bench
