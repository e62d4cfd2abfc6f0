// The integration call end to end: its log, its failure path and its guards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "call_fixture.hpp"
#include "dataset/data_packet.hpp"
#include "integration/data_module.hpp"
#include "sandbox/sandbox.hpp"

using lumirex::Variant;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace calltest {
namespace {

class IntegrationCall : public ServedCallTest {};

TEST_F(IntegrationCall, CustomerQueryLogsEveryStepInOrder) {
  Variant result = Variant::Array(5);
  std::string url = sandbox_.BaseUrl();
  url.pop_back();  // the call adds the slash back
  ASSERT_TRUE(
      lumirex::IntegracaoLumirex(Params("CONSULTA", url, "12345678909", "1", "2", "3"), 5, result));

  std::string sent = url + "/user?cpf=12345678909&pdv=true";
  auto lines = LogTexts();
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[0], kSeparator);
  EXPECT_EQ(lines[1], "INICIO");
  EXPECT_EQ(lines[2], "P_OPERACAO   = CONSULTA");
  EXPECT_EQ(lines[3], "P_CPF        = 12345678909");
  EXPECT_EQ(lines[4], "P_CDFILIAL   = 1");
  EXPECT_EQ(lines[5], "P_CDCAIXA    = 2");
  EXPECT_EQ(lines[6], "P_NRSEQVENDA = 3");
  EXPECT_EQ(lines[7], "P_PROMOCODE  = ");
  EXPECT_EQ(lines[8], "P_URL        = " + sent);
  EXPECT_EQ(lines[9], "P_XML        = ");
  EXPECT_EQ(lines[10], "P_TIMEOUT    = 10");
  EXPECT_THAT(lines[11], HasSubstr("RETORNO      = <?xml"));
  EXPECT_EQ(lines[12], "FIM");

  ASSERT_EQ(services_->calls.size(), 1u);
  EXPECT_EQ(services_->calls[0].method, lumirex::HttpMethod::Get);
  EXPECT_TRUE(services_->calls[0].form);
  EXPECT_EQ(services_->calls[0].timeout, std::chrono::seconds(10));
  EXPECT_EQ(services_->calls[0].body, "");

  const auto& items = result.items();
  EXPECT_EQ(items[0], Variant(false));
  EXPECT_EQ(items[2].type(), Variant::Type::String);
  EXPECT_FALSE(items[2].asString().empty());
  EXPECT_EQ(items[3].type(), Variant::Type::Double);
  auto packet = lumirex::ReadDataPacket(items[4].asString());
  EXPECT_EQ(packet.fields.size(), 5u);
  EXPECT_FALSE(packet.rows.empty());
  EXPECT_TRUE(services_->messages.empty());
}

TEST_F(IntegrationCall, CrLfAnswerIsLoggedWithoutCarriageReturnsAndParsedWithThem) {
  lumirex::sandbox::Faults faults;
  faults.crlf = true;
  sandbox_.SetFaults(faults);
  Variant result = Variant::Array(5);
  ASSERT_TRUE(
      lumirex::IntegracaoLumirex(Params("CONSULTA", sandbox_.BaseUrl(), "12345678909"), 5, result));
  std::string log = testkit::ReadFile(lumirex::LogFilePath());
  auto retorno = log.find("RETORNO      = ");
  ASSERT_NE(retorno, std::string::npos);
  auto fim = log.find(" - FIM\r\n", retorno);
  ASSERT_NE(fim, std::string::npos);
  std::string logged = log.substr(retorno, fim - retorno);
  EXPECT_NE(logged.find('\n'), std::string::npos);  // the line feeds stay
  // Only the line that follows the answer ends in CR LF.
  EXPECT_EQ(std::count(logged.begin(), logged.end(), '\r'), 1);
  EXPECT_EQ(result.items()[0], Variant(false));
}

TEST_F(IntegrationCall, ParserFailureReturnsFalseWritesItsReasonThenFim) {
  lumirex::sandbox::Faults faults;
  faults.malformedXml = true;
  sandbox_.SetFaults(faults);
  Variant result = Variant::Array(5);
  EXPECT_FALSE(
      lumirex::IntegracaoLumirex(Params("CONSULTA", sandbox_.BaseUrl(), "12345678909"), 5, result));
  auto lines = LogTexts();
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_THAT(lines[12], StartsWith("Exception IntegracaoLumirex: the answer could not be read: "
                                    "the response is not well-formed XML"));
  EXPECT_EQ(lines.back(), "FIM");
  EXPECT_THAT(services_->messages, ElementsAre(lines[12]));
  EXPECT_EQ(result, Variant::Array(5));
}

TEST_F(IntegrationCall, CpfIsPercentEncodedInTheQueryString) {
  Variant result = Variant::Array(5);
  lumirex::IntegracaoLumirex(Params("CONSULTA", sandbox_.BaseUrl(), "1&x=2 3"), 5, result);
  auto journal = sandbox_.Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].query, "cpf=1%26x%3D2%203&pdv=true");
  EXPECT_EQ(LogTexts()[8],
            "P_URL        = " + sandbox_.BaseUrl() + "user?cpf=1%26x%3D2%203&pdv=true");

  services_->calls.clear();
  lumirex::IntegracaoLumirex(Params("CONSULTA", sandbox_.BaseUrl(), "123.456.789-09"), 5, result);
  EXPECT_EQ(services_->calls.at(0).url, sandbox_.BaseUrl() + "user?cpf=123.456.789-09&pdv=true");
}

TEST_F(IntegrationCall, FourThreadsCallingAtOnceKeepEachCallsLinesTogether) {
  constexpr int kThreads = 4, kCalls = 5;
  std::vector<std::thread> threads;
  std::atomic<int> succeeded{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        Variant result = Variant::Array(5);
        std::string cpf = "thread" + std::to_string(t);
        if (lumirex::IntegracaoLumirex(Params("CONSULTA", sandbox_.BaseUrl(), cpf), 5, result))
          ++succeeded;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(succeeded, kThreads * kCalls);
  auto lines = LogTexts();
  ASSERT_EQ(lines.size(), 13u * kThreads * kCalls);
  for (std::size_t block = 0; block < lines.size(); block += 13) {
    EXPECT_EQ(lines[block], kSeparator);
    std::string cpf = lines[block + 3].substr(15);
    EXPECT_THAT(lines[block + 8], HasSubstr("cpf=" + cpf + "&"));
    EXPECT_EQ(lines[block + 12], "FIM");
  }
}

class CallWithoutNetwork : public CallTest {};

TEST_F(CallWithoutNetwork, TrailingSlashRule) {
  struct Case {
    std::string baseUrl, expected;
  };
  for (const Case& c : {Case{"http://svc", "http://svc/user?cpf=1&pdv=true"},
                        Case{"http://svc/", "http://svc/user?cpf=1&pdv=true"}}) {
    services_->calls.clear();
    services_->answer = [](const HttpCall&) { return Answer("<r><success/></r>"); };
    Variant result = Variant::Array(5);
    EXPECT_TRUE(lumirex::IntegracaoLumirex(Params("CONSULTA", c.baseUrl, "1"), 5, result))
        << c.baseUrl;
    ASSERT_EQ(services_->calls.size(), 1u);
    EXPECT_EQ(services_->calls[0].url, c.expected);
  }
}

TEST_F(CallWithoutNetwork, UnrecognisedOperationSendsNothingAndFailsAfterLineEleven) {
  for (std::string operation : {"consulta", "VENDA ", "X"}) {
    std::filesystem::remove_all(base_.path() / "Dados");
    services_->messages.clear();
    Variant result = Variant::Array(2);
    EXPECT_FALSE(
        lumirex::IntegracaoLumirex(Params(operation, "http://127.0.0.1:9/svc"), 5, result));
    auto lines = LogTexts();
    ASSERT_EQ(lines.size(), 12u) << operation;
    EXPECT_EQ(lines[8], "P_URL        = http://127.0.0.1:9/svc/");
    EXPECT_EQ(lines[9], "P_XML        = ");
    EXPECT_EQ(lines[11], "Exception IntegracaoLumirex: unknown operation '" + operation +
                             "'; expected CONSULTA, VALIDA_PROMOCODE, VENDA or VENDA_CANC");
    EXPECT_TRUE(services_->calls.empty());
    EXPECT_THAT(services_->messages, ElementsAre(lines[11]));
    EXPECT_EQ(result, Variant::Array(2));
  }
}

TEST_F(CallWithoutNetwork, HttpFailureLogsLinesOneToElevenThenTheFailure) {
  Variant result = Variant::Array(5);
  result.items()[1] = Variant("caller's");
  Variant before = result;
  EXPECT_FALSE(lumirex::IntegracaoLumirex(Params("CONSULTA", "http://127.0.0.1:9"), 5, result));
  auto lines = LogTexts();
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[10], "P_TIMEOUT    = 10");
  EXPECT_THAT(lines[11], HasSubstr("Exception IntegracaoLumirex: "));
  EXPECT_THAT(lines[11], HasSubstr("http://127.0.0.1:9/user?cpf=&pdv=true"));
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0], lines[11]);
  EXPECT_EQ(result, before);
}

// A failure that is no host's input and no exchange's (here services of the
// host's own raising something of theirs) is the library's: INTERNAL, never
// INPUT, and the request may have gone.
TEST_F(CallWithoutNetwork, FailureOfNoKnownKindIsInternal) {
  services_->answer = [](const HttpCall&) -> lumirex::HttpAnswer {
    throw std::logic_error("the stack broke");
  };
  Variant result = Variant::Array(5);
  EXPECT_FALSE(lumirex::IntegracaoLumirex(Params("CONSULTA", "http://svc"), 5, result));
  const lumirex::CallOutcome last = lumirex::LastCall();
  EXPECT_EQ(last.error, LUMIREX_E_INTERNAL);
  EXPECT_TRUE(last.sent);
  EXPECT_EQ(last.message, "the stack broke");
  EXPECT_STREQ(LumirexErrorName(last.error), "LUMIREX_E_INTERNAL");
  EXPECT_STREQ(LumirexErrorName(LUMIREX_E_INTERNAL + 1), "LUMIREX_E_UNKNOWN");
}

// Only a sale or cancellation report connects: a customer query and a
// promocode validation neither wait for nor fail on the database.
TEST_F(CallWithoutNetwork, OnlyReportsConnectToTheDatabase) {
  lumirex::SetConnectionString("sqlite3://db=" + (base_.path() / "missing.sqlite").string());
  services_->answer = [](const HttpCall&) { return Answer("<r><success>true</success></r>"); };
  Variant result = Variant::Array(5);
  EXPECT_TRUE(lumirex::IntegracaoLumirex(Params("CONSULTA", "http://svc"), 5, result));
  std::vector<Variant> validation = Params("VALIDA_PROMOCODE", "http://svc");
  validation.resize(10);
  lumirex::IntegracaoLumirex(validation, 9, result);
  ASSERT_NE(lumirex::rdmIntegraLumirex, nullptr);
  EXPECT_FALSE(lumirex::rdmIntegraLumirex->adcIntegraLumirex.Connected());
  EXPECT_FALSE(lumirex::IntegracaoLumirex(Params("VENDA", "http://svc"), 5, result));
  EXPECT_THAT(LogTexts().back(), HasSubstr("cannot open the point-of-sale database"));
  lumirex::SetConnectionString(std::nullopt);
}

TEST_F(CallWithoutNetwork, TwoCallsCreateTheDataModuleOnce) {
  services_->answer = [](const HttpCall&) { return Answer("<r><success/></r>"); };
  Variant result = Variant::Array(5);
  EXPECT_TRUE(lumirex::IntegracaoLumirex(Params("CONSULTA", "http://svc"), 5, result));
  auto* first = lumirex::rdmIntegraLumirex.get();
  EXPECT_TRUE(lumirex::IntegracaoLumirex(Params("CONSULTA", "http://svc"), 5, result));
  EXPECT_EQ(lumirex::rdmIntegraLumirex.get(), first);
  // An empty success is a refusal: the flag says the service did not accept.
  EXPECT_EQ(result.items()[0], Variant(true));
}

TEST_F(CallWithoutNetwork, ShortParameterListsAreRefusedWithoutReadingPastTheEnd) {
  struct Case {
    std::vector<Variant> params;
    std::string message;
  };
  std::vector<Case> cases = {
      {{}, "the parameter list has 0 elements; every operation needs 6"},
      {{"VENDA", "http://svc", "", ""}, "the parameter list has 4 elements; VENDA needs 6"},
      {{"CONSULTA"}, "the parameter list has 1 element; CONSULTA needs 6"},
      {{"VALIDA_PROMOCODE", "http://svc", "", "", "", "", "P", "S"},
       "the parameter list has 8 elements; VALIDA_PROMOCODE needs 10"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(base_.path() / "Dados");
    services_->messages.clear();
    Variant result = Variant::Array(5);
    EXPECT_FALSE(
        lumirex::IntegracaoLumirex(c.params, static_cast<int32_t>(c.params.size()) - 1, result));
    EXPECT_THAT(LogTexts(),
                ElementsAre(kSeparator, "INICIO", "Exception IntegracaoLumirex: " + c.message));
    EXPECT_THAT(services_->messages, ElementsAre("Exception IntegracaoLumirex: " + c.message));
    EXPECT_TRUE(services_->calls.empty());
  }
}

TEST_F(CallWithoutNetwork, LastIndexCutsTheListTheHostPassed) {
  Variant result = Variant::Array(5);
  EXPECT_FALSE(lumirex::IntegracaoLumirex(Params("VENDA", "http://svc"), 3, result));
  EXPECT_EQ(LogTexts().back(),
            "Exception IntegracaoLumirex: the parameter list has 4 elements; VENDA needs 6");
}

TEST_F(CallWithoutNetwork, UnwritableLogReturnsFalseAndStillTellsTheOperator) {
  testkit::WriteFile(base_.path() / "Dados", "a file where the log folder would go");
  services_->answer = [](const HttpCall&) { return Answer(""); };
  Variant result = Variant::Array(5);
  EXPECT_FALSE(lumirex::IntegracaoLumirex(Params("CONSULTA", "http://svc"), 5, result));
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_THAT(services_->messages[0], HasSubstr("Exception IntegracaoLumirex: "));
  EXPECT_THAT(services_->messages[0], HasSubstr("LogIntegracaoOrvo"));
  EXPECT_TRUE(services_->calls.empty());
}

}  // namespace
}  // namespace calltest
