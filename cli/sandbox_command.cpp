#include "cli/sandbox_command.hpp"

#include <charconv>
#include <chrono>
#include <functional>
#include <mutex>
#include <pugixml.hpp>
#include <stdexcept>

#include "cli/stop_request.hpp"
#include "cli/usage_error.hpp"
#include "sandbox/sandbox.hpp"
#include "support/datetime.hpp"

namespace lumirex::cli {

namespace {

sandbox::Fixture FixtureFrom(const std::string& path) {
  if (path.empty()) return sandbox::DefaultFixture();
  try {
    return sandbox::LoadFixtureFile(path);
  } catch (const std::runtime_error& error) {
    throw UsageError(error.what());
  }
}

// The fault modes by name: a flag, or a whole number after "=".
struct FaultMode {
  const char* name;
  const char* help;
  std::function<void(sandbox::Faults&, long long)> apply;
  bool takesNumber = true;
};

const std::vector<FaultMode>& FaultModes() {
  using sandbox::Faults;
  static const std::vector<FaultMode> kModes = {
      {"stall", "stall=N     wait N seconds before answering",
       [](Faults& f, long long n) { f.stallSeconds = static_cast<int>(n); }},
      {"close", "close       close the connection without an answer",
       [](Faults& f, long long) { f.closeWithoutAnswer = true; }, false},
      {"html", "html        an HTML error page, HTTP 500 or the status= given",
       [](Faults& f, long long) { f.serverErrorHtml = true; }, false},
      {"status", "status=N    HTTP status N with an empty body (or html's page)",
       [](Faults& f, long long n) { f.status = static_cast<int>(n); }},
      {"malformed", "malformed   the answer's document element left unclosed",
       [](Faults& f, long long) { f.malformedXml = true; }, false},
      {"mib", "mib=N       pad the answer to N MiB",
       [](Faults& f, long long n) { f.answerMiB = static_cast<std::size_t>(n); }},
      {"crlf", "crlf        CR LF line breaks in the answer",
       [](Faults& f, long long) { f.crlf = true; }, false},
      {"trickle", "trickle=MS  send the answer in ten pieces over MS milliseconds",
       [](Faults& f, long long n) { f.trickleMilliseconds = static_cast<int>(n); }},
      {"cut", "cut=N       close the connection after N bytes of the answer",
       [](Faults& f, long long n) { f.closeAfterBytes = static_cast<std::size_t>(n); }},
      {"chunked", "chunked     chunked transfer: the answer's length not announced",
       [](Faults& f, long long) { f.chunked = true; }, false},
      {"header-kib", "header-kib=N  an extra header line N KiB long",
       [](Faults& f, long long n) { f.headerKiB = static_cast<std::size_t>(n); }},
  };
  return kModes;
}

void ApplyFault(const std::string& given, sandbox::Faults& faults) {
  const auto equals = given.find('=');
  const std::string name = given.substr(0, equals);
  for (const FaultMode& mode : FaultModes()) {
    if (name != mode.name) continue;
    if (!mode.takesNumber) {
      if (equals != std::string::npos) throw UsageError("--fault " + name + " takes no number");
      mode.apply(faults, 0);
      return;
    }
    long long number = -1;
    const char* first = given.data() + (equals == std::string::npos ? given.size() : equals + 1);
    const char* last = given.data() + given.size();
    auto [end, error] = std::from_chars(first, last, number);
    if (equals == std::string::npos || error != std::errc() || end != last || number < 0 ||
        number > 1'000'000) {
      throw UsageError("--fault " + name + " takes a whole number: " + name + "=N");
    }
    if (name == "status" && (number < 100 || number > 599)) {
      throw UsageError("--fault status=N takes an HTTP status from 100 to 599");
    }
    mode.apply(faults, number);
    return;
  }
  throw UsageError("'" + given + "' is not a fault mode; see 'lumirex sandbox --help'");
}

std::string FaultHelp() {
  std::string help = "Misbehave on purpose; repeat to combine (stall=3 html status=503). Modes:";
  for (const FaultMode& mode : FaultModes()) help += std::string("\n  ") + mode.help;
  return help;
}

// The first element of that name anywhere in the order document.
std::string Field(const pugi::xml_document& document, const char* name) {
  pugi::xml_node node = document.find_node(
      [name](pugi::xml_node candidate) { return std::string_view(candidate.name()) == name; });
  return node.text().get();
}

// "hh:nn:ss POST /order?pdv=true orderId=... cpf=... -> 200 success true: Venda registrada"
std::string DescribeServed(const sandbox::Served& served) {
  std::string line;
  AppendTimeOfDay(line, DecodeDateTime(Now()));
  const sandbox::JournalEntry& request = served.request;
  line += " " + request.method + " " + request.path;
  if (!request.query.empty()) line += "?" + request.query;
  pugi::xml_document document;
  if (!request.document.empty() && document.load_string(request.document.c_str())) {
    for (const char* name : {"orderId", "friendlyCode", "cpf"}) {
      std::string value = Field(document, name);
      if (!value.empty()) line += std::string(" ") + name + "=" + value;
    }
  }
  line += " -> ";
  if (served.status == 0) {
    line += "no answer";
  } else {
    line += std::to_string(served.status);
  }
  if (served.success) line += std::string(" success ") + (*served.success ? "true" : "false");
  if (!served.message.empty()) line += ": " + served.message;
  if (served.faulted) line += " (fault)";
  return line;
}

}  // namespace

void AddSandboxOptions(CLI::App& sub, SandboxOptions& options) {
  sub.add_option("--port", options.port, "Port to listen on; 0 picks a free one (default 0)")
      ->check(CLI::Range(0, 65535));
  sub.add_option("--host", options.host,
                 "Address to listen on (default 127.0.0.1; 0.0.0.0 for every interface)");
  sub.add_option("--fixture", options.fixture, "Customers as a JSON fixture file");
  sub.add_option("--base-path", options.basePath,
                 "Serve only under this path prefix, e.g. /api/; any other path answers 404\n"
                 "(default: any prefix)");
  sub.add_option("--fault", options.faults, FaultHelp());
  sub.add_option("--fault-rate", options.faultRate,
                 "Share of requests, 0 to 1, that the faults apply to (default 1)")
      ->check(CLI::Range(0.0, 1.0));
  sub.add_option("--latency", options.latencyMs,
                 "Milliseconds every answer waits before it goes, as from a service some way "
                 "off (default 0)")
      ->check(CLI::Range(0, 600000));
  sub.add_flag("--verbose", options.verbose,
               "One line per request: time, method, path, the order's key fields, the answer");
}

int ServeSandbox(const SandboxOptions& options, std::ostream& out) {
  sandbox::Faults faults;
  for (const std::string& given : options.faults) ApplyFault(given, faults);
  faults.share = options.faultRate;
  sandbox::Sandbox service(FixtureFrom(options.fixture));
  service.SetFaults(faults);
  service.SetLatency(std::chrono::milliseconds(options.latencyMs));
  service.SetBasePath(options.basePath);
  std::mutex printing;
  if (options.verbose) {
    service.SetObserver([&out, &printing](const sandbox::Served& served) {
      const std::string line = DescribeServed(served);
      std::lock_guard lock(printing);
      out << line << std::endl;
    });
  }
  StopRequest stop;
  service.Start(options.port, options.host);
  out << service.BaseUrl() << std::endl;
  stop.Wait();
  service.Stop();
  return 0;
}

}  // namespace lumirex::cli
