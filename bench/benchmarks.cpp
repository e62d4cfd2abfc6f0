#include "benchmarks.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <pugixml.hpp>

#include "c_call.hpp"
#include "customers.hpp"
#include "lumirex/lumirex.hpp"
#include "raw_client.hpp"

namespace lumirex::bench {

namespace {

// Medians of ten: a disturbed repetition or two should not decide a ratio.
constexpr int kRepetitions = 10;

benchmark::internal::Benchmark* Register(const std::string& name,
                                         std::function<void(benchmark::State&)> body) {
  return benchmark::RegisterBenchmark(name.c_str(),
                                      [body](benchmark::State& state) { body(state); })
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond)
      ->Repetitions(kRepetitions)
      ->ReportAggregatesOnly();
}

// A run logs a gigabyte or so of answers; left to pile up, their dirty pages
// make the kernel hold back later writes until they reach the disk, and the
// cost of a log line would depend on what ran before it. Removing the file
// after each benchmark drops its pages unwritten.
void DropTheLog() {
  std::error_code ignored;
  std::filesystem::remove(LogFilePath(), ignored);
}

void Calls(benchmark::State& state, World& world, const std::vector<std::string>& parameters,
           bool mustBeAccepted) {
  CCall call(parameters);
  for (auto _ : state) {
    if (!call.Run() || (mustBeAccepted && !call.Accepted())) {
      state.SkipWithError(("the call failed: " + World::LastMessage()).c_str());
      break;
    }
  }
  world.Sandbox().ClearJournal();
  DropTheLog();
}

// The raw client connects before the loop, as the library's handle already has.
template <typename Exchange>
void RawExchanges(benchmark::State& state, World& world, const std::string& expected,
                  Exchange exchange) {
  RawClient raw;
  exchange(raw);
  for (auto _ : state) {
    if (exchange(raw).size() != expected.size()) {
      state.SkipWithError("the raw exchange received another answer");
      break;
    }
  }
  world.Sandbox().ClearJournal();
}

void Parses(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
    if (!parsed) {
      state.SkipWithError("pugixml refused the answer");
      break;
    }
    benchmark::DoNotOptimize(document.first_child());
  }
}

void LogLines(benchmark::State& state, const std::vector<std::string>& texts) {
  for (auto _ : state) {
    for (const std::string& text : texts) LogLumirex(text);
  }
  DropTheLog();
}

void RegisterConsulta(World& world, int promocodes) {
  const std::string url = world.ConsultaUrl(promocodes);
  const std::string& answer = world.ConsultaAnswer(promocodes);
  Register(ConsultaCallName(promocodes), [&world, promocodes](benchmark::State& state) {
    Calls(state, world, ConsultaParameters(world.Url(), CpfWithPromocodes(promocodes)), true);
  });
  Register(ConsultaRawName(promocodes), [&world, url, &answer](benchmark::State& state) {
    RawExchanges(state, world, answer,
                 [&url](RawClient& raw) -> const std::string& { return raw.Get(url); });
  });
  Register(ConsultaParseName(promocodes),
           [&answer](benchmark::State& state) { Parses(state, answer); });
}

}  // namespace

std::string ConsultaCallName(int promocodes) {
  return "consulta_call/" + std::to_string(promocodes);
}
std::string ConsultaRawName(int promocodes) {
  return "consulta_raw/" + std::to_string(promocodes);
}
std::string ConsultaParseName(int promocodes) {
  return "consulta_parse/" + std::to_string(promocodes);
}

std::vector<std::string> ConsultaLogTexts(const World& world, int promocodes) {
  const std::string cpf = CpfWithPromocodes(promocodes);
  std::string answer = world.ConsultaAnswer(promocodes);
  std::erase(answer, '\r');
  return {std::string(50, '-'),
          "INICIO",
          "P_OPERACAO   = CONSULTA",
          "P_CPF        = " + cpf,
          "P_CDFILIAL   = ",
          "P_CDCAIXA    = ",
          "P_NRSEQVENDA = ",
          "P_PROMOCODE  = ",
          "P_URL        = " + world.ConsultaUrl(promocodes),
          "P_XML        = ",
          "P_TIMEOUT    = 10",
          "RETORNO      = " + answer,
          "FIM"};
}

void RegisterBenchmarks(World& world) {
  Register(kVendaCall, [&world](benchmark::State& state) {
    Calls(state, world, VendaParameters(world.Url()), false);
  });
  Register(kVendaOutbox, [&world](benchmark::State& state) {
    const std::string file = world.BaseDir() + "/outbox.sqlite";
    if (LumirexSetOutbox(file.c_str()) != 0) {
      state.SkipWithError("the outbox cannot be set");
      return;
    }
    Calls(state, world, VendaParameters(world.Url()), false);
    LumirexSetOutbox(nullptr);
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file + suffix, ignored);
  });
  Register(kVendaRaw, [&world](benchmark::State& state) {
    RawExchanges(state, world, world.VendaAnswer(), [&world](RawClient& raw) -> const std::string& {
      return raw.Post(world.VendaUrl(), world.VendaBody());
    });
  });
  for (int promocodes : world.AnswerSizes()) RegisterConsulta(world, promocodes);

  const std::vector<std::string> oneLine = {"P_CPF        = 12345678909"};
  const std::vector<std::string> callLines = ConsultaLogTexts(world, world.AnswerSizes().front());
  Register(kLogLine, [oneLine](benchmark::State& state) { LogLines(state, oneLine); });
  Register(kLogCallLines, [callLines](benchmark::State& state) { LogLines(state, callLines); });
  // Every iteration appends the whole answer to the log, so a few will do.
  const std::vector<std::string> answerLine = {ConsultaLogTexts(world, kLogAnswerPromocodes)[11]};
  Register(kLogAnswerLine, [answerLine](benchmark::State& state) {
    LogLines(state, answerLine);
  })->Iterations(20);
}

ConsecutiveCalls CountConnections(int calls) {
  const int promocodes = 10;
  sandbox::Sandbox fresh(sandbox::Fixture{});
  fresh.ReplaceCustomer(CustomerWithPromocodes(promocodes));
  fresh.Start();
  CCall call(ConsultaParameters(fresh.BaseUrl(), CpfWithPromocodes(promocodes)));
  ConsecutiveCalls result;
  result.calls = calls;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    if (call.Run() && call.Accepted()) ++result.succeeded;
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.connections = fresh.AcceptedConnections();
  fresh.Stop();
  return result;
}

}  // namespace lumirex::bench
