#include "profile.hpp"

#include <pugixml.hpp>

#include <functional>
#include <sstream>
#include <stdexcept>

#include "bare_queries.hpp"
#include "c_call.hpp"
#include "customers.hpp"
#include "lumirex/lumirex.h"
#include "raw_client.hpp"
#include "world.hpp"

namespace lumirex::bench {

namespace {

struct Description {
  std::string kind;
  int promocodes = 10;
  int calls = 0;
};

Description Parse(const std::string& text) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, ':');) parts.push_back(part);
  const bool sized =
      parts.size() == 3 && (parts[0] == "consulta" || parts[0] == "raw-get" || parts[0] == "parse");
  const bool unsized =
      parts.size() == 2 && (parts[0] == "venda" || parts[0] == "raw-post" || parts[0] == "queries");
  if (!sized && !unsized) {
    throw std::runtime_error(
        "--profile takes consulta|raw-get|parse:<promocodes>:<calls> or "
        "venda|raw-post|queries:<calls>");
  }
  Description description{parts[0], sized ? std::stoi(parts[1]) : 10, std::stoi(parts.back())};
  if (description.calls < 1) throw std::runtime_error("--profile needs at least one call");
  return description;
}

// The measured runs. Kept out of line, so that a profiler can collect from
// its entry alone.
[[gnu::noinline]] void RunProfile(const std::function<void()>& once, int calls) {
  for (int i = 0; i < calls; ++i) once();
}

void Measure(const std::function<void()>& once, int calls) {
  once();
  RunProfile(once, calls);
}

void MeasureCall(const std::vector<std::string>& parameters, int calls) {
  CCall call(parameters);
  Measure(
      [&call] {
        if (!call.Run()) throw std::runtime_error("the call failed: " + World::LastMessage());
      },
      calls);
}

}  // namespace

void ProfileWork(const std::string& text, bool baseDir) {
  const Description description = Parse(text);
  World world({description.promocodes});
  if (!baseDir) LumirexSetBaseDir(nullptr);
  const std::string& kind = description.kind;
  const std::string& answer = world.ConsultaAnswer(description.promocodes);
  if (kind == "consulta") {
    MeasureCall(ConsultaParameters(world.Url(), CpfWithPromocodes(description.promocodes)),
                description.calls);
  } else if (kind == "venda") {
    MeasureCall(VendaParameters(world.Url()), description.calls);
  } else if (kind == "raw-get") {
    RawClient raw;
    const std::string url = world.ConsultaUrl(description.promocodes);
    Measure([&] { raw.Get(url); }, description.calls);
  } else if (kind == "raw-post") {
    RawClient raw;
    Measure([&] { raw.Post(world.VendaUrl(), world.VendaBody()); }, description.calls);
  } else if (kind == "parse") {
    Measure(
        [&answer] {
          pugi::xml_document document;
          if (!document.load_buffer(answer.data(), answer.size())) {
            throw std::runtime_error("pugixml refused the answer");
          }
        },
        description.calls);
  } else {
    BareQueries queries(world.PosDatabase());
    Measure([&queries] { queries.Run(); }, description.calls);
  }
}

}  // namespace lumirex::bench
