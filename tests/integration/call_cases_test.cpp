// Call-level cases as data: each file in tests/integration/cases is one call
// through the C ABI against the demo database, with lines "key: value":
//   call      CONSULTA, VENDA or VENDA_CANC, with the demo sale's parameters
//   size      the result array's elements (5 when absent)
//   rows      SQL run on the demo database first (any number of lines)
//   status, answer    the service's answer, in place of the sandbox's
//   request   "METHOD tail" the call sent, or "none"
//   returned, code, http, sent, message    what the call and LumirexLastCall said
//   element   "N value", element N of the result as printed (any number)
//   log       the log's last lines, in order (any number)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "database/sqlite_database.hpp"
#include "end_to_end.hpp"
#include "shared_services/http_status.hpp"

namespace calltest {
namespace {

using Case = std::multimap<std::string, std::string>;

Case ReadCase(const std::filesystem::path& file) {
  Case fields;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    const std::size_t colon = line.find(": ");
    if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
    fields.emplace(line.substr(0, colon), line.substr(colon + 2));
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

class CallCases : public EndToEnd {
 protected:
  void Run(const Case& c) {
    for (const std::string& sql : All(c, "rows")) lumirex::testing::RunSqlite(database_, sql);
    if (c.count("status") != 0) {
      const lumirex::HttpAnswer answer{std::stoi(One(c, "status")),
                                       lumirex::ReasonPhrase(std::stoi(One(c, "status"))),
                                       One(c, "answer")};
      services_->answer = [answer](const HttpCall&) { return answer; };
    }
    const std::string operation = One(c, "call");
    const Outcome outcome = Call(operation == "CONSULTA" ? Consulta() : Sale(operation),
                                 std::stoi(One(c, "size", "5")));
    if (One(c, "request") == "none") {
      EXPECT_TRUE(services_->calls.empty());
    } else {
      ASSERT_EQ(services_->calls.size(), 1u);
      const HttpCall& sent = services_->calls[0];
      const std::string request = lumirex::HttpMethodName(sent.method) + std::string(" ") +
                                  sent.url.substr(sandbox_.BaseUrl().size());
      EXPECT_EQ(request, One(c, "request"));
    }
    EXPECT_EQ(outcome.returned ? "true" : "false", One(c, "returned"));
    EXPECT_EQ(std::to_string(outcome.last.error), One(c, "code"));
    EXPECT_EQ(std::to_string(outcome.last.http_status), One(c, "http"));
    EXPECT_EQ(outcome.last.sent ? "true" : "false", One(c, "sent"));
    EXPECT_EQ(outcome.lastMessage, One(c, "message"));
    for (const std::string& element : All(c, "element")) {
      const std::size_t index = std::stoul(element);
      ASSERT_LT(index, outcome.result.items().size());
      EXPECT_EQ(::testing::PrintToString(outcome.result.items()[index]),
                element.substr(element.find(' ') + 1));
    }
    const std::vector<std::string> lines = LogTexts();
    const std::vector<std::string> tail = All(c, "log");
    ASSERT_GE(lines.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(tail.size()), lines.end()),
              tail);
  }
};

TEST_F(CallCases, EveryCaseFile) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry :
       std::filesystem::directory_iterator(LUMIREX_SOURCE_DIR "/tests/integration/cases")) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    services_->calls.clear();
    services_->answer = nullptr;
    Run(ReadCase(file));
  }
}

}  // namespace
}  // namespace calltest
