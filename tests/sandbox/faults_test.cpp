// The faults a test switches on to see how a client copes with a bad service.
#include <chrono>

#include <gtest/gtest.h>

#include "tests/sandbox/sandbox_client.hpp"

namespace sandbox_test {
namespace {

using lumirex::sandbox::Faults;
using FaultsTest = SandboxTest;

constexpr const char* kKnownCustomer = "/user?cpf=12345678909&pdv=true";

TEST_F(FaultsTest, StallDelaysTheAnswerAndOutlastsAShortClientTimeout) {
  Faults faults;
  faults.stallSeconds = 1;
  sandbox_.SetFaults(faults);

  const auto start = std::chrono::steady_clock::now();
  const auto answer = Get(kKnownCustomer);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(answer->Success(), "true");

  httplib::Client impatient("127.0.0.1", sandbox_.Port());
  impatient.set_read_timeout(0, 200'000);
  const auto result = impatient.Get(kKnownCustomer);
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error(), httplib::Error::Read);
}

TEST_F(FaultsTest, CloseWithoutAnswerLeavesTheClientWithNothing) {
  Faults faults;
  faults.closeWithoutAnswer = true;
  sandbox_.SetFaults(faults);
  for (const bool post : {false, true}) {
    SCOPED_TRACE(post ? "POST" : "GET");
    const auto result =
        post ? client_->Post("/order?pdv=true", Envelope(SaleDocument("1")), kFormType)
             : client_->Get(kKnownCustomer);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error(), httplib::Error::Read);
  }
  EXPECT_EQ(sandbox_.Journal().size(), 2u);  // the requests did arrive

  sandbox_.SetFaults({});
  EXPECT_EQ(Get(kKnownCustomer)->Success(), "true");
  // The dropped order was never recorded.
  EXPECT_EQ(Post("/order?pdv=true", SaleDocument("1"))->Success(), "true");
}

TEST_F(FaultsTest, ServerErrorIsAnHtmlPage) {
  Faults faults;
  faults.serverErrorHtml = true;
  sandbox_.SetFaults(faults);
  const auto result = client_->Get(kKnownCustomer);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 500);
  EXPECT_TRUE(result->get_header_value("Content-Type").starts_with("text/html"));
  EXPECT_NE(result->body.find("<html>"), std::string::npos);
  EXPECT_EQ(result->body.find("<success>"), std::string::npos);
}

TEST_F(FaultsTest, MalformedXmlIsTheAnswerLeftUnclosed) {
  Faults faults;
  faults.malformedXml = true;
  for (const bool crlf : {false, true}) {
    faults.crlf = crlf;
    sandbox_.SetFaults(faults);
    const auto answer = Get(kKnownCustomer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_FALSE(answer->wellFormed) << answer->body;
    EXPECT_NE(answer->body.find("<success>true</success>"), std::string::npos);
  }
}

TEST_F(FaultsTest, CrlfWritesEveryLineBreakAsCrLf) {
  Faults faults;
  faults.crlf = true;
  sandbox_.SetFaults(faults);
  const auto answer = Get(kKnownCustomer);
  ASSERT_TRUE(answer->wellFormed) << answer->body;
  EXPECT_EQ(answer->Success(), "true");
  EXPECT_STREQ(answer->UserInfo().child_value("name"), "Jo\xC3\xA3o da Silva");
  std::size_t breaks = 0;
  for (std::size_t i = 0; i < answer->body.size(); ++i) {
    if (answer->body[i] != '\n') continue;
    ++breaks;
    ASSERT_TRUE(i > 0 && answer->body[i - 1] == '\r') << "bare LF at " << i;
  }
  EXPECT_GT(breaks, 10u);
}

TEST_F(FaultsTest, LargeAnswerIsExactlyThatManyMiBAndStillReadable) {
  for (const bool crlf : {false, true}) {
    SCOPED_TRACE(crlf ? "crlf" : "raw");
    Faults faults;
    faults.answerMiB = 3;
    faults.crlf = crlf;
    sandbox_.SetFaults(faults);
    const auto answer = Get(kKnownCustomer);
    EXPECT_EQ(answer->body.size(), 3u * 1024 * 1024);
    ASSERT_TRUE(answer->wellFormed);
    EXPECT_EQ(answer->Success(), "true");
    EXPECT_EQ(answer->Message(), "Cliente encontrado");
    EXPECT_STREQ(answer->UserInfo().child_value("balance"), "1250");
  }
}

}  // namespace
}  // namespace sandbox_test
