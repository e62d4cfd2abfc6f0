// lumirex_bench: what the library adds to the exchange with the service, in
// one run. Prints the figures and their ratios; with --markdown FILE also
// writes them, with the machine and the date, to FILE (docs/performance.md),
// followed by the Markdown of --notes FILE.
//
// --profile runs nothing but `calls` runs of one kind of work, for a profiler
// to watch (profile.hpp lists the kinds); --no-base-dir leaves the library's
// base folder unset for it, as a host that sets none does. `./dev bench
// callgrind` runs them under callgrind and strace.
//
// --log-reading BYTES measures nothing but `lumirex log` over a log with an
// answer of BYTES (section 7 uses 1 GiB).
//
// --side-by-side measures nothing but calls from many threads at once
// (section 8) and prints its Markdown; --outbox-life and --drill likewise
// for the outbox over a till's life and forwarding after an outage.
//
//   lumirex_bench [Google Benchmark flags] [--markdown FILE] [--notes FILE]
//   lumirex_bench --profile consulta:10000:20 [--no-base-dir]
//   lumirex_bench --log-reading 1073741824
//   lumirex_bench --side-by-side | --outbox-life | --drill
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "benchmarks.hpp"
#include "c_call.hpp"
#include "customers.hpp"
#include "figures.hpp"
#include "forwarding_drill.hpp"
#include "machine.hpp"
#include "outbox_life.hpp"
#include "peak_memory.hpp"
#include "profile.hpp"
#include "side_by_side.hpp"
#include "world.hpp"

namespace lumirex::bench {

namespace {

// 70 000 promocodes of the benchmark's kind are about the most whose answer
// the library's HTTP client takes (it refuses answers over 16 MiB); 100 000
// are about 22 MiB.
const std::vector<int> kAnswerSizes = {10, 1000, 10000, 70000, 100000};
constexpr int kSmallestPeakSize = 10000;
constexpr int kConsecutiveCalls = 1000;

// The answer of the large call in the log `lumirex log` reads.
constexpr std::size_t kLogReadingAnswer = std::size_t{1} << 30;

struct Options {
  std::string markdown, notes, profile;
  std::size_t logReading = 0;
  bool baseDir = true;
  bool sideBySide = false;
  bool outboxLife = false;
  bool drill = false;
};

// What Google Benchmark left of the arguments; raises on anything unknown.
Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--markdown" && i + 1 < argc) {
      options.markdown = argv[++i];
    } else if (arg == "--notes" && i + 1 < argc) {
      options.notes = argv[++i];
    } else if (arg == "--profile" && i + 1 < argc) {
      options.profile = argv[++i];
    } else if (arg == "--outbox-life") {
      options.outboxLife = true;
    } else if (arg == "--drill") {
      options.drill = true;
    } else if (arg == "--side-by-side") {
      options.sideBySide = true;
    } else if (arg == "--no-base-dir") {
      options.baseDir = false;
    } else if (arg == "--log-reading" && i + 1 < argc) {
      options.logReading = std::stoull(argv[++i]);
    } else {
      throw std::runtime_error("unknown argument '" + arg +
                               "'; usage: lumirex_bench [--markdown FILE] [--notes FILE] "
                               "| --profile <kind>:[<promocodes>:]<calls> [--no-base-dir] "
                               "| --log-reading BYTES | --side-by-side | --outbox-life | --drill");
    }
  }
  return options;
}

std::string ReadText(const std::string& path) {
  if (path.empty()) return "";
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

Figures Collect(World& world, const Collector& collector) {
  Figures figures;
  for (int size : world.AnswerSizes()) {
    figures.consulta.push_back(
        {size, world.ConsultaAnswer(size).size(), collector.Find(ConsultaCallName(size)),
         collector.Find(ConsultaRawName(size)), collector.Find(ConsultaParseName(size))});
  }
  figures.vendaCall = collector.Find(kVendaCall);
  figures.vendaRaw = collector.Find(kVendaRaw);
  figures.vendaOutbox = collector.Find(kVendaOutbox);
  figures.vendaBodyBytes = world.VendaBody().size();
  figures.vendaAnswerBytes = world.VendaAnswer().size();
  figures.logLine = collector.Find(kLogLine);
  figures.logCallLines = collector.Find(kLogCallLines);
  figures.logAnswerLine = collector.Find(kLogAnswerLine);
  for (const AnswerSize& size : figures.consulta) {
    if (size.promocodes == kLogAnswerPromocodes) figures.logAnswer = size;
  }
  for (const std::string& text : ConsultaLogTexts(world, world.AnswerSizes().front())) {
    figures.logCallBytes += text.size();
  }
  return figures;
}

// The largest call, and the next smaller ones down to kSmallestPeakSize
// until one succeeds.
void MeasurePeakMemory(World& world, Figures& figures) {
  const auto& sizes = world.AnswerSizes();
  for (auto size = sizes.rbegin(); size != sizes.rend() && *size >= kSmallestPeakSize; ++size) {
    PeakOfCall& call = figures.peaks.emplace_back();
    call.promocodes = *size;
    call.answerBytes = world.ConsultaAnswer(*size).size();
    try {
      call.peak = MeasureInChild({world.BaseDir(), world.ConnectionString(), world.Url(),
                                  CpfWithPromocodes(sizes.front()), CpfWithPromocodes(*size)});
    } catch (const std::exception& error) {
      call.error = error.what();
    }
    if (call.peak && call.peak->callSucceeded) break;
  }
}

int Run(int argc, char** argv) {
  // The repetitions of all benchmarks run in a random order, so that a change
  // in the load of the machine weighs on a call and its raw exchange alike. A
  // flag given on the command line comes later and wins.
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  std::vector<char*> args(argv, argv + argc);
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  const Options options = ParseOptions(count, args.data());
  const std::string notes = ReadText(options.notes);

  if (options.logReading > 0) {
    std::cout << LogReadingMarkdown(MeasureLogReading(options.logReading));
    return 0;
  }
  if (options.outboxLife) {
    std::cout << OutboxLifeMarkdown();
    return 0;
  }
  if (options.drill) {
    std::cout << ForwardingDrillMarkdown();
    return 0;
  }
  if (!options.profile.empty()) {
    ProfileWork(options.profile, options.baseDir);
    return 0;
  }
  // The command's peak is its process's largest resident set, which starts
  // from this process's own at the fork: it is measured before the answers,
  // the sandbox and the runs below fill this process.
  LogReadingPeak logReading;
  if (!options.sideBySide) {
    std::cout << "Peak memory of lumirex log over a log with a 1 GiB answer..." << std::endl;
    logReading = MeasureLogReading(kLogReadingAnswer);
  }
  std::string outboxLife;
  if (!options.sideBySide) {
    std::cout << "The outbox over a till's life..." << std::endl;
    outboxLife = OutboxLifeMarkdown();
    std::cout << "Forwarding after an outage..." << std::endl;
    outboxLife += ForwardingDrillMarkdown();
  }
  World world(kAnswerSizes);
  if (options.sideBySide) {
    std::cout << SideBySideMarkdown(MeasureSideBySide(world));
    return 0;
  }
  RegisterBenchmarks(world);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  Figures figures = Collect(world, collector);
  std::cout << "\nConnections for " << kConsecutiveCalls << " calls..." << std::endl;
  figures.consecutive = CountConnections(kConsecutiveCalls);
  std::cout << "Peak memory of the largest call, in a child process..." << std::endl;
  MeasurePeakMemory(world, figures);
  figures.logReading = logReading;
  std::cout << "Calls from many threads at once..." << std::endl;
  const std::string sideBySide = SideBySideMarkdown(MeasureSideBySide(world));

  std::cout << "\n" << FiguresMarkdown(figures) << sideBySide << outboxLife;
  if (!options.markdown.empty()) {
    WriteText(options.markdown,
              PerformanceDocument(DescribeMachine(), figures, sideBySide + outboxLife + notes));
    std::cout << "Wrote " << options.markdown << "\n";
  }
  return 0;
}

}  // namespace

}  // namespace lumirex::bench

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], lumirex::bench::kPeakMemoryChildFlag) == 0) {
    return lumirex::bench::PeakMemoryChildMain(std::vector<std::string>(argv + 2, argv + argc));
  }
  try {
    return lumirex::bench::Run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "lumirex_bench: " << error.what() << "\n";
    return 1;
  }
}
