// The customer query and the answers to requests the service cannot serve.
#include <gtest/gtest.h>

#include "tests/sandbox/sandbox_client.hpp"

namespace sandbox_test {
namespace {

using CustomerQueryTest = SandboxTest;

TEST_F(CustomerQueryTest, KnownCustomerComesWithNameBalanceAndEveryPromocode) {
  const auto answer = Get("/user?cpf=12345678909&pdv=true");
  ASSERT_EQ(answer->status, 200);
  ASSERT_TRUE(answer->wellFormed) << answer->body;
  EXPECT_TRUE(answer->body.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?><response>"));
  EXPECT_EQ(answer->Success(), "true");
  EXPECT_EQ(answer->Message(), "Cliente encontrado");
  const auto user = answer->UserInfo();
  EXPECT_STREQ(user.child_value("name"), "Jo\xC3\xA3o da Silva");  // UTF-8 on the wire
  EXPECT_STREQ(user.child_value("balance"), "1250");

  std::vector<std::string> rows;
  for (auto promocode : user.child("promocodes").children("promocode")) {
    rows.push_back(std::string(promocode.child_value("friendlyCode")) + "|" +
                   promocode.child("gift").child_value("type") + "|" +
                   promocode.child("gift").child_value("value") + "|" +
                   promocode.child_value("expiration_date"));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "BEMVINDO10|discount|1000|2099-12-31T23:59:59",
                      "CASHBACK5|cashback|500|",
                      "NATAL2020|discount|2000|2020-12-25T23:59:59",
                  }));
}

TEST_F(CustomerQueryTest, CpfIsFoundWithOrWithoutItsPunctuation) {
  EXPECT_EQ(Get("/user?cpf=123.456.789-09&pdv=true")->Success(), "true");
  // As the library sends it: percent-encoded.
  EXPECT_EQ(Get("/user?cpf=123%2E456%2E789%2D09&pdv=true")->Success(), "true");
}

TEST_F(CustomerQueryTest, ReplacedCustomerIsServedAsGivenWithItsTextEscaped) {
  lumirex::sandbox::Customer customer{"555", "A & B <Ltda>", -150, {}};
  customer.promocodes.push_back({"X1", "", {"", 5}, "2024-02-30T10:00:00"});
  sandbox_.ReplaceCustomer(customer);
  const auto answer = Get("/user?cpf=555&pdv=true");
  ASSERT_TRUE(answer->wellFormed) << answer->body;
  EXPECT_STREQ(answer->UserInfo().child_value("name"), "A & B <Ltda>");
  EXPECT_STREQ(answer->UserInfo().child_value("balance"), "-150");
  EXPECT_STREQ(
      answer->UserInfo().child("promocodes").child("promocode").child_value("expiration_date"),
      "2024-02-30T10:00:00");
}

TEST_F(CustomerQueryTest, RefusalsSayWhyInUtf8) {
  struct Case {
    const char* target;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"/user?cpf=00000000000&pdv=true", 200, "Cliente n\xC3\xA3o encontrado"},
      {"/user?cpf=&pdv=true", 400, "CPF n\xC3\xA3o informado"},
      {"/user?pdv=true", 400, "CPF n\xC3\xA3o informado"},
      {"/user?cpf=12345678909", 400, "Par\xC3\xA2metro pdv=true ausente"},
      {"/user?cpf=12345678909&pdv=TRUE", 400, "Par\xC3\xA2metro pdv=true ausente"},
      {"/users?cpf=12345678909&pdv=true", 404, "Recurso n\xC3\xA3o encontrado: GET /users"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const auto answer = Get(c.target);
    EXPECT_EQ(answer->status, c.status);
    ASSERT_TRUE(answer->wellFormed) << answer->body;
    EXPECT_EQ(answer->Success(), "false");
    EXPECT_EQ(answer->Message(), c.message);
    EXPECT_FALSE(answer->UserInfo());
  }
}

TEST_F(CustomerQueryTest, OperationsAreServedUnderABasePath) {
  EXPECT_EQ(Get("/svc/user?cpf=12345678909&pdv=true")->Success(), "true");
  EXPECT_EQ(Post("/api/v1/order?pdv=true", SaleDocument("X"))->Success(), "true");
}

}  // namespace
}  // namespace sandbox_test
