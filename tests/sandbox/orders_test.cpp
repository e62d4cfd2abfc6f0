// Promocode validation, sale reports and cancellations, and the bodies the
// service refuses to read.
#include <gtest/gtest.h>

#include "tests/sandbox/sandbox_client.hpp"

namespace sandbox_test {
namespace {

using OrdersTest = SandboxTest;

TEST_F(OrdersTest, ValidationAcceptsOnlyALiveCodeOfThatCustomer) {
  struct Case {
    const char* cpf;
    const char* code;
    const char* success;
    const char* message;
  };
  const Case cases[] = {
      {"12345678909", "BEMVINDO10", "true", "Promocode BEMVINDO10 v\xC3\xA1lido"},
      {"123.456.789-09", "CASHBACK5", "true", "Promocode CASHBACK5 v\xC3\xA1lido"},  // no expiry
      {"12345678909", "NATAL2020", "false", "Promocode NATAL2020 expirado em 2020-12-25T23:59:59"},
      {"12345678909", "FRETEGRATIS", "false",  // another customer's code
       "Promocode FRETEGRATIS n\xC3\xA3o encontrado para este cliente"},
      {"12345678909", "bemvindo10", "false",
       "Promocode bemvindo10 n\xC3\xA3o encontrado para este cliente"},
      {"12345678909", "", "false", "Promocode n\xC3\xA3o informado"},
      {"00000000000", "BEMVINDO10", "false", "Cliente n\xC3\xA3o encontrado"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.cpf) + " " + c.code);
    const auto answer = Post("/validate?pdv=true", ValidationDocument(c.cpf, c.code));
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->Success(), c.success);
    EXPECT_EQ(answer->Message(), c.message);
  }
}

TEST_F(OrdersTest, ASaleIsRecordedOnceAndCancelledOnce) {
  struct Step {
    const char* target;
    std::string document;
    const char* success;
    const char* message;
  };
  const Step steps[] = {
      {"/order?pdv=true", SaleDocument("0010101/03/20241"), "true",
       "Venda 0010101/03/20241 registrada"},
      {"/order?pdv=true", SaleDocument("0010101/03/20241"), "false",
       "Venda 0010101/03/20241 j\xC3\xA1 registrada"},
      {"/order?pdv=true", SaleDocument("0010101/03/20242"), "true",
       "Venda 0010101/03/20242 registrada"},
      {"/order/cancel?pdv=true", CancellationDocument("0010101/03/20241"), "true",
       "Venda 0010101/03/20241 cancelada"},
      {"/order/cancel?pdv=true", CancellationDocument("0010101/03/20241"), "false",
       "Venda 0010101/03/20241 n\xC3\xA3o encontrada"},
      // Once cancelled the sale may be reported again.
      {"/order?pdv=true", SaleDocument("0010101/03/20241"), "true",
       "Venda 0010101/03/20241 registrada"},
      {"/order/cancel?pdv=true", CancellationDocument("never-sold"), "false",
       "Venda never-sold n\xC3\xA3o encontrada"},
      // What the library sends for a sale key that matches no sale.
      {"/order?pdv=true", SaleDocument(""), "false",
       "Venda sem identifica\xC3\xA7\xC3\xA3o (orderId)"},
      {"/order/cancel?pdv=true", CancellationDocument(""), "false",
       "Cancelamento sem identifica\xC3\xA7\xC3\xA3o da venda (orderId)"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.target) + " " + step.document);
    const auto answer = Post(step.target, step.document);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->Success(), step.success);
    EXPECT_EQ(answer->Message(), step.message);
  }
}

TEST_F(OrdersTest, AWindows1252DocumentIsReadAsTheTextItStandsFor) {
  // "Conceição" in Windows-1252, and a code the customer holds only in UTF-8 terms.
  sandbox_.ReplaceCustomer({"2", "Z", 0, {{"A\xC3\xA7\xC3\xA3o", "", {}, ""}}});
  const auto document = OrderDocument(
      "<userId>2</userId><friendlyCode>A\xE7\xE3o</friendlyCode>"
      "<storeReference>Concei\xE7\xE3o \x80</storeReference>");
  const auto answer = Post("/validate?pdv=true", document);
  EXPECT_EQ(answer->Success(), "true") << answer->Message();

  const auto entry = sandbox_.Journal().back();
  EXPECT_NE(entry.document.find("<storeReference>Concei\xC3\xA7\xC3\xA3o \xE2\x82\xAC"),
            std::string::npos)
      << entry.document;
}

TEST_F(OrdersTest, AUtf8DocumentIsReadAsIs) {
  sandbox_.ReplaceCustomer({"2", "Z", 0, {{"A\xC3\xA7\xC3\xA3o", "", {}, ""}}});
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><order><userId>2</userId>"
      "<friendlyCode>A\xC3\xA7\xC3\xA3o</friendlyCode></order>";
  EXPECT_EQ(Post("/validate?pdv=true", document)->Success(), "true");
}

TEST_F(OrdersTest, AMalformedBodyGets400AndSaysWhy) {
  struct Case {
    const char* name;
    std::string body;
    const char* reason;
  };
  const std::string sale = SaleDocument("77");
  const Case cases[] = {
      {"bad escape", "order%3D%3Corder%3E%ZZ%26", "escape % malformado"},
      {"cut escape", Envelope(sale).substr(0, Envelope(sale).size() - 2), "escape % malformado"},
      {"no order=", lumirex::PercentEncode(sale + "&"),
       "n\xC3\xA3o come\xC3\xA7"
       "a com"},
      {"other field", lumirex::PercentEncode("data=" + sale + "&"),
       "n\xC3\xA3o come\xC3\xA7"
       "a com"},
      {"no &", lumirex::PercentEncode("order=" + sale), "n\xC3\xA3o termina com"},
      {"empty", "",
       "n\xC3\xA3o come\xC3\xA7"
       "a com"},
      {"empty document", Envelope(""), "XML malformado"},
      {"not XML", Envelope("orderId=77"), "XML malformado"},
      {"unclosed", Envelope("<order><orderId>77</orderId>"), "XML malformado"},
      {"other root", Envelope("<venda><orderId>77</orderId></venda>"),
       "raiz n\xC3\xA3o \xC3\xA9 order"},
      {"unknown encoding", Envelope("<?xml version=\"1.0\" encoding=\"EBCDIC\"?><order/>"),
       "ebcdic"},
  };
  for (const char* target : {"/validate?pdv=true", "/order?pdv=true", "/order/cancel?pdv=true"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(target) + " " + c.name);
      const auto answer = PostRaw(target, c.body);
      EXPECT_EQ(answer->status, 400);
      ASSERT_TRUE(answer->wellFormed) << answer->body;
      EXPECT_EQ(answer->Success(), "false");
      EXPECT_NE(answer->Message().find(c.reason), std::string::npos) << answer->Message();
    }
  }
  // None of them was recorded.
  EXPECT_EQ(Post("/order?pdv=true", sale)->Success(), "true");
}

TEST_F(OrdersTest, PostsNeedPdvTrueToo) {
  const auto answer = Post("/order", SaleDocument("88"));
  EXPECT_EQ(answer->status, 400);
  EXPECT_EQ(answer->Success(), "false");
  EXPECT_EQ(Post("/order?pdv=true", SaleDocument("88"))->Success(), "true");
}

}  // namespace
}  // namespace sandbox_test
