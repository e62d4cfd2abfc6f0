// Call-level cases as data: each .case file beside this one is a test of its
// own, one call through the C ABI against the sandbox, on a fresh demo
// database and log. The format is in README.md here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "allocation/allocation_faults.hpp"
#include "database/sqlite_database.hpp"
#include "integration/end_to_end.hpp"

namespace calltest {
namespace {

const std::filesystem::path kCases = LUMIREX_SOURCE_DIR "/tests/integration/cases";

using Case = std::multimap<std::string, std::string>;

const std::set<std::string> kKeys = {"call",
                                     "size",
                                     "rows",
                                     "status",
                                     "answer",
                                     "fault",
                                     "request",
                                     "body",
                                     "element",
                                     "returned",
                                     "code",
                                     "http",
                                     "sent",
                                     "queued",
                                     "message",
                                     "message part",
                                     "log",
                                     "allocations",
                                     "failing allocation",
                                     "document",
                                     "parameter"};

// \n, \r, \t, \\ and \xHH stand for the bytes they name.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char kind = text[++i];
    if (kind == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += kind == 'n' ? '\n' : kind == 'r' ? '\r' : kind == 't' ? '\t' : kind;
    }
  }
  return out;
}

// Lines "key: value"; blank lines and lines starting with # are skipped. A
// key the runner does not know fails the case, naming the key and the file.
Case ReadCase(const std::filesystem::path& file) {
  Case fields;
  std::ifstream in(file);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    const std::size_t colon = line.find(':');
    const std::string key = line.substr(0, colon);
    if (colon == std::string::npos || kKeys.count(key) == 0) {
      ADD_FAILURE() << file.filename().string() << ":" << number << ": unknown key '" << key << "'";
      continue;
    }
    const std::size_t value = line.find_first_not_of(' ', colon + 1);
    fields.emplace(key, value == std::string::npos ? "" : Unescape(line.substr(value)));
  }
  return fields;
}

std::vector<std::string> All(const Case& c, const std::string& key) {
  std::vector<std::string> values;
  for (auto [at, end] = c.equal_range(key); at != end; ++at) values.push_back(at->second);
  return values;
}

std::string One(const Case& c, const std::string& key, const std::string& absent = "") {
  const auto found = c.find(key);
  return found == c.end() ? absent : found->second;
}

constexpr std::array<const char*, 12> kCodes = {
    "LUMIREX_OK",        "LUMIREX_E_INPUT",  "LUMIREX_E_DATABASE", "LUMIREX_E_LOG",
    "LUMIREX_E_CONNECT", "LUMIREX_E_TLS",    "LUMIREX_E_TIMEOUT",  "LUMIREX_E_TRANSFER",
    "LUMIREX_E_HTTP",    "LUMIREX_E_ANSWER", "LUMIREX_E_STATE",    "LUMIREX_E_MEMORY"};

std::string CodeName(int32_t code) {
  return code >= 0 && code < static_cast<int32_t>(kCodes.size()) ? kCodes[code]
                                                                 : std::to_string(code);
}

lumirex::sandbox::Faults FaultsOf(const Case& c) {
  lumirex::sandbox::Faults faults;
  faults.status = std::stoi(One(c, "status", "0"));
  faults.rawAnswer = One(c, "answer");
  const std::string fault = One(c, "fault");
  const std::string number = fault.substr(fault.find(' ') + 1);
  if (fault == "server-error-html") {
    faults.serverErrorHtml = true;
  } else if (fault.starts_with("header-kib ")) {
    faults.headerKiB = std::stoul(number);
  } else if (fault.starts_with("close-after ")) {
    faults.closeAfterBytes = std::stoul(number);
  } else if (!fault.empty()) {
    ADD_FAILURE() << "unknown fault '" << fault << "'";
  }
  return faults;
}

// "METHOD tail": the path below the sandbox's root and the query.
std::string RequestLine(const lumirex::sandbox::JournalEntry& sent) {
  std::string line = sent.method + " " + sent.path.substr(1);
  if (!sent.query.empty()) line += "?" + sent.query;
  return line;
}

// The text of the order document's first element of that name.
std::string DocumentField(const std::string& document, const std::string& name) {
  pugi::xml_document xml;
  if (!xml.load_string(document.c_str())) return "(no order document)";
  const pugi::xpath_node found = xml.select_node(("//" + name).c_str());
  return found ? found.node().text().get() : "(no element " + name + ")";
}

std::vector<std::filesystem::path> CaseFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(kCases)) {
    if (entry.path().extension() == ".case") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class CallCases : public EndToEnd, public ::testing::WithParamInterface<std::filesystem::path> {
 protected:
  // The call with its allocations counted, or its Nth failing, from the C
  // entry to its return; the arrays are built and read outside.
  Outcome CallCounted(const std::vector<std::string>& params, int32_t size, allocfault::Mode mode,
                      long target, long& counted) {
    services_->messages.clear();
    const CArray list(params);
    CArray result(size);
    for (int32_t i = 0; i < size; ++i) {
      result.SetText(i, CallersResult(size).items()[i].asString());
    }
    Outcome outcome;
    allocfault::Arm(mode, target);
    outcome.returned = CallThroughC(list, result);
    counted = allocfault::Disarm();
    outcome.result = result.Value();
    std::string message(4096, '\0');
    LumirexLastCall(&outcome.last, message.data(), message.size());
    outcome.lastMessage = message.c_str();
    return outcome;
  }

  // The operation's parameters for the demo sale and customer, with the
  // case's "parameter: N text" in place.
  std::vector<std::string> Parameters(const Case& c) const {
    const std::string operation = One(c, "call");
    std::vector<std::string> params = operation == "CONSULTA"           ? Consulta()
                                      : operation == "VALIDA_PROMOCODE" ? Validation()
                                                                        : Sale(operation);
    for (const std::string& parameter : All(c, "parameter")) {
      const std::size_t index = std::stoul(parameter);
      if (index >= params.size()) params.resize(index + 1);
      params[index] = parameter.substr(std::min(parameter.find(' ') + 1, parameter.size()));
    }
    return params;
  }

  // A call counted or failed on purpose comes after the same call unarmed,
  // as a till's earlier calls would have made what a process makes once.
  Outcome Run(const Case& c, long& counted) {
    const std::vector<std::string> params = Parameters(c);
    const int32_t size = std::stoi(One(c, "size", "5"));
    const std::string failing = One(c, "failing allocation");
    if (c.count("allocations") == 0 && failing.empty()) {
      return CallCounted(params, size, allocfault::Mode::Count, 0, counted);
    }
    CallCounted(params, size, allocfault::Mode::Off, 0, counted);
    sandbox_.ClearJournal();
    std::filesystem::remove_all(base_.path() / "Dados" / "LogIntegracaoOrvo");
    if (failing.empty()) return CallCounted(params, size, allocfault::Mode::Count, 0, counted);
    return CallCounted(params, size, allocfault::Mode::FailOne, std::stol(failing), counted);
  }

  void ExpectRequest(const Case& c) {
    const auto journal = sandbox_.Journal();
    if (One(c, "request") == "none") {
      EXPECT_TRUE(journal.empty());
      return;
    }
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(RequestLine(journal[0]), One(c, "request"));
    if (c.count("body") != 0) EXPECT_EQ(journal[0].body, One(c, "body"));
    for (const std::string& field : All(c, "document")) {
      const std::size_t blank = field.find(' ');
      const std::string name = field.substr(0, blank);
      EXPECT_EQ(DocumentField(journal[0].document, name),
                blank == std::string::npos ? "" : field.substr(blank + 1))
          << "element " << name;
    }
  }

  void ExpectOutcome(const Case& c, const Outcome& outcome) {
    EXPECT_EQ(outcome.returned ? "true" : "false", One(c, "returned"));
    EXPECT_EQ(CodeName(outcome.last.error), One(c, "code"));
    EXPECT_EQ(std::to_string(outcome.last.http_status), One(c, "http"));
    EXPECT_EQ(outcome.last.sent ? "true" : "false", One(c, "sent"));
    EXPECT_EQ(outcome.last.queued ? "true" : "false", One(c, "queued", "false"));
    EXPECT_EQ(outcome.lastMessage, One(c, "message"));
    for (const std::string& element : All(c, "element")) {
      const std::size_t index = std::stoul(element);
      ASSERT_LT(index, outcome.result.items().size());
      EXPECT_EQ(::testing::PrintToString(outcome.result.items()[index]),
                element.substr(element.find(' ') + 1))
          << "element " << index;
    }
    // What holds for every call that fails: the host's array as it was, and
    // the operator told once what the log's failure line says.
    if (!outcome.returned) {
      const auto size = static_cast<int32_t>(outcome.result.items().size());
      EXPECT_EQ(outcome.result, CallersResult(size));
      EXPECT_THAT(services_->messages,
                  ::testing::ElementsAre("Exception IntegracaoLumirex: " + outcome.lastMessage));
    } else {
      EXPECT_THAT(services_->messages, ::testing::IsEmpty());
    }
  }

  void ExpectLog(const Case& c) {
    const std::vector<std::string> lines = LogTexts();
    const std::vector<std::string> tail = All(c, "log");
    ASSERT_GE(lines.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(tail.size()), lines.end()),
              tail);
  }
};

TEST_P(CallCases, Case) {
  Case c = ReadCase(GetParam());
  for (auto& [key, value] : c) {
    for (std::size_t at = value.find("{base}"); at != std::string::npos;
         at = value.find("{base}")) {
      value.replace(at, 6, sandbox_.BaseUrl());
    }
  }
  ASSERT_FALSE(HasFailure());
  for (const char* key : {"call", "request", "returned", "code", "http", "sent"}) {
    ASSERT_EQ(c.count(key), 1u) << "a case states '" << key << "' once";
  }
  if (c.count("failing allocation") != 0 && !allocfault::CountsMalloc()) {
    GTEST_SKIP() << "this build counts operator new only, so the Nth allocation is another one";
  }
  for (const std::string& sql : All(c, "rows")) lumirex::testing::RunSqlite(database_, sql);
  sandbox_.SetFaults(FaultsOf(c));
  long counted = 0;
  const Outcome outcome = Run(c, counted);
  ExpectRequest(c);
  ExpectOutcome(c, outcome);
  ExpectLog(c);
  if (c.count("allocations") != 0) {
    EXPECT_LE(counted, std::stol(One(c, "allocations"))) << "allocations the call made";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CallCases, ::testing::ValuesIn(CaseFiles()),
                         [](const ::testing::TestParamInfo<std::filesystem::path>& info) {
                           std::string name = info.param.stem().string();
                           std::replace_if(
                               name.begin(), name.end(),
                               [](char ch) {
                                 return !std::isalnum(static_cast<unsigned char>(ch));
                               },
                               '_');
                           return name;
                         });

}  // namespace
}  // namespace calltest
