// What a till learns from every kind of call, through the C ABI against the
// sandbox: the return value, LumirexLastCall's code, status and `sent`, the
// message, where the failure line stands in the log, and that nothing went
// out where nothing may.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "database/sqlite_database.hpp"
#include "end_to_end.hpp"

using lumirex::sandbox::Faults;
using ::testing::HasSubstr;

namespace calltest {
namespace {

const std::string kVerdict = "<r><success>false</success><message>Promocode expirado</message></r>";

struct Row {
  const char* name;
  Faults faults;
  std::string operation = "VENDA";  // "consulta" for an unknown one
  int32_t resultCount = 2;
  bool returned = false;
  int32_t error = LUMIREX_OK;
  int32_t httpStatus = 0;
  bool sent = false;
  std::string message;    // what LumirexLastCall and the failure line say; "" for none
  std::string before;     // the line before the failure line
  bool fimAfter = false;  // FIM still ends the log
};

Faults Answering(int status, std::string body = "") {
  Faults faults;
  faults.status = status;
  faults.rawAnswer = std::move(body);
  return faults;
}

std::vector<Row> Rows() {
  const std::string retorno = "RETORNO      = ";
  Faults html500;
  html500.serverErrorHtml = true;
  Faults bigHeader;
  bigHeader.headerKiB = 1024;
  Faults cut;
  cut.closeAfterBytes = 40;
  Faults json = Answering(200, "{\"success\": true}");
  Faults badBalance =
      Answering(200, "<r><success>true</success><userInfo><balance>12.50</balance></userInfo></r>");
  std::vector<Row> rows = {
      {"accepted", {}, "VENDA", 2, true, LUMIREX_OK, 200, true, "", ""},
      // Only something in between sends these; read as "declined" they would lose the report.
      {"empty 200: no verdict", Answering(200), "VENDA", 2, false, LUMIREX_E_ANSWER, 200, true,
       "the answer carries no verdict", "", true},
      {"portal page without success", Answering(200, "<html><body>Wi-Fi login</body></html>"),
       "CONSULTA", 5, false, LUMIREX_E_ANSWER, 200, true, "the answer carries no verdict", "",
       true},
      {"422 with a verdict", Answering(422, kVerdict), "VENDA", 2, true, LUMIREX_OK, 422, true, "",
       ""},
      {"502 with no body", Answering(502), "VENDA", 2, false, LUMIREX_E_HTTP, 502, true,
       "the service answered HTTP 502 Bad Gateway", retorno},
      {"503 with a document",
       Answering(503, "<r><message>Em manuten\xC3\xA7\xC3\xA3o</message></r>"), "VENDA", 2, false,
       LUMIREX_E_HTTP, 503, true,
       "the service answered HTTP 503 Service Unavailable: Em manuten\xE7\xE3o", retorno},
      {"500 error page", html500, "VENDA", 2, false, LUMIREX_E_HTTP, 500, true,
       "the service answered HTTP 500 Internal Server Error", retorno},
      {"404 error page", Answering(404, "<html><body>Not here</body></html>"), "VENDA", 2, false,
       LUMIREX_E_HTTP, 404, true, "the service answered HTTP 404 Not Found", retorno},
      {"302, not followed", Answering(302), "VENDA", 2, false, LUMIREX_E_HTTP, 302, true,
       "the service answered HTTP 302 Found", retorno},
      {"204 without content", Answering(204), "VENDA", 2, false, LUMIREX_E_HTTP, 204, true,
       "the service answered HTTP 204 No Content", retorno},
      {"JSON answer", json, "VENDA", 2, false, LUMIREX_E_ANSWER, 200, true,
       "the answer could not be read: the response is not well-formed XML", "", true},
      {"balance with a point", badBalance, "CONSULTA", 5, false, LUMIREX_E_ANSWER, 200, true,
       "the answer could not be read: '12.50' is not a valid cents text", "", true},
      {"headers over libcurl's limit", bigHeader, "VENDA", 2, false, LUMIREX_E_TRANSFER, 200, true,
       "the answer's headers are larger than the HTTP client reads", kTimeoutLine},
      {"closed mid-answer", cut, "VENDA", 2, false, LUMIREX_E_TRANSFER, 200, true,
       "bytes remaining to read", kTimeoutLine},
      {"unknown operation",
       {},
       "consulta",
       2,
       false,
       LUMIREX_E_INPUT,
       0,
       false,
       "unknown operation 'consulta'; expected CONSULTA, VALIDA_PROMOCODE, VENDA or VENDA_CANC",
       kTimeoutLine},
      {"result array too short",
       {},
       "VENDA",
       1,
       false,
       LUMIREX_E_INPUT,
       0,
       false,
       "the result array has 1 element; VENDA writes 2",
       "INICIO"},
  };
  return rows;
}

class Outcomes : public EndToEnd {};

TEST_F(Outcomes, EveryCallSaysWhatBecameOfIt) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    sandbox_.SetFaults(row.faults);
    sandbox_.ClearJournal();
    std::filesystem::remove_all(base_.path() / "Dados" / "LogIntegracaoOrvo");
    auto params = row.operation == "CONSULTA" ? Consulta() : Sale();
    params[0] = row.operation;
    const Outcome outcome = Call(params, row.resultCount);

    EXPECT_EQ(outcome.returned, row.returned);
    EXPECT_EQ(outcome.last.error, row.error);
    EXPECT_EQ(outcome.last.http_status, row.httpStatus);
    EXPECT_EQ(outcome.last.sent, row.sent ? 1 : 0);
    EXPECT_EQ(outcome.last.queued, 0);
    EXPECT_EQ(sandbox_.Journal().size(), row.sent ? 1u : 0u);
    EXPECT_THAT(outcome.lastMessage, HasSubstr(row.message));
    if (row.returned) {
      EXPECT_EQ(outcome.lastMessage, "");
      EXPECT_EQ(LogTexts().back(), "FIM");
    } else if (row.fimAfter) {
      const auto lines = LogTexts();
      EXPECT_EQ(lines.back(), "FIM");
      EXPECT_EQ(lines[lines.size() - 2], "Exception IntegracaoLumirex: " + outcome.lastMessage);
      EXPECT_THAT(services_->messages, ::testing::ElementsAre(lines[lines.size() - 2]));
    } else if (row.before == "RETORNO      = ") {
      const auto lines = LogTexts();
      EXPECT_THAT(lines[lines.size() - 2], ::testing::StartsWith(row.before));
      EXPECT_EQ(lines.back(), "Exception IntegracaoLumirex: " + outcome.lastMessage);
      EXPECT_EQ(outcome.result, CallersResult(row.resultCount));
    } else {
      ExpectFailure(outcome, row.before, row.message);
    }
  }
}

// A sale report that fails on the database names the sale and the failing
// query, never the statement, and sends nothing.
TEST_F(Outcomes, DatabaseFailuresNameTheSaleAndTheQuery) {
  lumirex::testing::RunSqlite(database_, "DROP TABLE PRODUTO;");
  const Outcome outcome = Call(Sale());
  ExpectFailure(outcome, "INICIO", "VENDA 0001/001/000123: the sale items query: ");
  EXPECT_THAT(outcome.lastMessage, HasSubstr("no such table: PRODUTO"));
  EXPECT_EQ(outcome.last.error, LUMIREX_E_DATABASE);
  EXPECT_EQ(outcome.last.sent, 0);
  EXPECT_THAT(LogTexts().back(), ::testing::Not(HasSubstr("SELECT")));
  EXPECT_TRUE(sandbox_.Journal().empty());

  // A key longer than its column is the caller's input, not the set-up's.
  const Outcome tooLong = Call(Sale("VENDA", "0001", "001", std::string(17, '1')));
  ExpectFailure(tooLong, "INICIO", "parameter P_NRSEQVENDA takes at most 16 characters");
  EXPECT_EQ(tooLong.last.error, LUMIREX_E_INPUT);
}

}  // namespace
}  // namespace calltest
