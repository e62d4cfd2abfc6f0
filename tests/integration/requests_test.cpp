// The three POST operations end to end: from the till's parameters and the
// point-of-sale database, through the C++ API, to what the service received.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "call_fixture.hpp"
#include "database/sqlite_database.hpp"
#include "dataset/dataset.hpp"
#include "sandbox/sandbox.hpp"
#include "support/codepage.hpp"
#include "support/url.hpp"

using lumirex::Variant;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace calltest {
namespace {

class PostOperations : public ServedCallTest {
 protected:
  void SetUp() override {
    ServedCallTest::SetUp();
    database_ = base_.path() / "Dados" / "pos.sqlite";
    std::filesystem::create_directories(database_.parent_path());
    lumirex::testing::RunSqlite(
        database_, testkit::ReadFile(testkit::SourceDir() / "sql/sqlite/pos-schema.sql") +
                       testkit::ReadFile(testkit::SourceDir() / "sql/sqlite/pos-demo.sql"));
  }

  bool Call(std::vector<Variant> params, Variant& result) {
    auto last = static_cast<int32_t>(params.size()) - 1;
    return lumirex::IntegracaoLumirex(std::move(params), last, result);
  }

  // The one request the service received, checked to be a well-formed envelope.
  lumirex::sandbox::JournalEntry OnlyRequest() {
    auto journal = sandbox_.Journal();
    EXPECT_EQ(journal.size(), 1u);
    if (journal.empty()) return {};
    EXPECT_EQ(journal[0].method, "POST");
    EXPECT_EQ(journal[0].contentType, "application/x-www-form-urlencoded");
    return journal[0];
  }

  // The order document as the library built it: the envelope's inside, in Windows-1252.
  static std::string DocumentOf(const lumirex::sandbox::JournalEntry& request) {
    std::string decoded = lumirex::PercentDecode(request.body);
    EXPECT_THAT(decoded, StartsWith("order="));
    EXPECT_EQ(decoded.back(), '&');
    return decoded.substr(6, decoded.size() - 7);
  }

  static std::string Text(const pugi::xml_document& doc, const char* path) {
    return doc.first_element_by_path(path).text().get();
  }

  std::filesystem::path database_;
};

TEST_F(PostOperations, SaleReportSendsTheSaleDocumentAsOneEncodedEnvelope) {
  Variant result = Variant::Array(2);
  ASSERT_TRUE(
      Call(Params("VENDA", sandbox_.BaseUrl(), "ignored", "0001", "001", "000123"), result));
  EXPECT_EQ(result.items()[0], Variant(false)) << result.items()[1].asString();

  auto request = OnlyRequest();
  EXPECT_EQ(request.path, "/order");
  EXPECT_EQ(request.query, "pdv=true");
  std::string document = DocumentOf(request);
  // The body is the envelope encoded once, as a whole.
  EXPECT_EQ(request.body, lumirex::PercentEncode("order=" + document + "&"));
  EXPECT_THAT(document, StartsWith("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<order>"));

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(request.document.c_str()));
  EXPECT_EQ(Text(doc, "order/customer/cpf"), "12345678909");  // the sale's, not parameter 2
  EXPECT_EQ(Text(doc, "order/unityDetails/unityName"), "Loja Praça da Sé");
  EXPECT_EQ(Text(doc, "order/orderInfo/orderOrigin"), "PDV");
  EXPECT_EQ(Text(doc, "order/orderInfo/orderId"), "000100105/03/2024000123");
  EXPECT_EQ(Text(doc, "order/orderInfo/entryDate"), "2024-03-05T14:07:09");
  EXPECT_EQ(Text(doc, "order/orderInfo/cashbackUsed"), "0");
  std::vector<std::string> names;
  for (auto products : doc.child("order").children("products"))
    names.push_back(products.child_value("name"));
  EXPECT_THAT(names, ::testing::Contains("Pão de queijo"));
  EXPECT_THAT(names, ::testing::Not(
                         ::testing::Contains("")));  // the product missing from PRODUTO is left out

  // Line 10 of the log is the same document without its carriage returns.
  std::string withoutCr;
  for (char c : document) {
    if (c != '\r') withoutCr += c;
  }
  auto lines = LogTexts();
  ASSERT_EQ(lines.size(), 13u);
  // The log splits on CR LF only, so the document's own line feed stays inside line 10.
  EXPECT_EQ(lines[9], "P_XML        = " + withoutCr);
}

TEST_F(PostOperations, CancellationOfAReportedSaleIsAccepted) {
  Variant result = Variant::Array(2);
  ASSERT_TRUE(Call(Params("VENDA", sandbox_.BaseUrl(), "", "0001", "001", "000123"), result));
  ASSERT_TRUE(Call(Params("VENDA_CANC", sandbox_.BaseUrl(), "", "0001", "001", "000123"), result));
  EXPECT_EQ(result.items()[0], Variant(false)) << result.items()[1].asString();
  auto journal = sandbox_.Journal();
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[1].path, "/order/cancel");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(journal[1].document.c_str()));
  EXPECT_EQ(Text(doc, "order/orderId"), "000100105/03/2024000123");
}

TEST_F(PostOperations, ServiceVerdictOnAnUnknownSaleComesBackAsTheErrorFlag) {
  Variant result = Variant::Array(2);
  ASSERT_TRUE(Call(Params("VENDA_CANC", sandbox_.BaseUrl(), "", "0001", "001", "999999"), result));
  EXPECT_EQ(result.items()[0], Variant(true));
  EXPECT_FALSE(result.items()[1].asString().empty());
}

TEST_F(PostOperations, PromocodeValidationSendsTheItemsAndTheSubtotal) {
  lumirex::TClientDataSet items;
  items.AddField({"CDPRODUTO", lumirex::FieldType::String, 20});
  items.AddField({"QTD", lumirex::FieldType::Float});
  items.CreateDataSet();
  for (const char* code : {"1001", "1002", "1001"}) {
    items.Insert();
    items.FieldByName("CDPRODUTO").SetAsString(code);
    items.Post();
  }
  struct Case {
    char separator;
    Variant subtotal;
  };
  for (const Case& c :
       {Case{',', Variant(12.34)}, Case{'.', Variant(12.34)}, Case{',', Variant("12,34")}}) {
    lumirex::SetDecimalSeparator(c.separator);
    sandbox_.ClearJournal();
    auto params = Params("VALIDA_PROMOCODE", sandbox_.BaseUrl(), "12345678909");
    params.insert(params.end(),
                  {Variant("BEMVINDO10"), Variant("LOJA-1"), c.subtotal, Variant(items.GetData())});
    Variant result = Variant::Array(2);
    ASSERT_TRUE(Call(params, result));
    EXPECT_EQ(result.items()[0], Variant(false)) << result.items()[1].asString();

    auto request = OnlyRequest();
    EXPECT_EQ(request.path, "/validate");
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(request.document.c_str()));
    std::vector<std::string> elements, products;
    for (auto child : doc.child("order").children()) elements.push_back(child.name());
    EXPECT_THAT(elements, ElementsAre("userId", "friendlyCode", "storeReference", "channel",
                                      "products", "products", "products", "payment"));
    for (auto p : doc.child("order").children("products")) products.push_back(p.text().get());
    EXPECT_THAT(products, ElementsAre("1001", "1002", "1001"));
    EXPECT_EQ(Text(doc, "order/channel"), "pdv");
    EXPECT_EQ(Text(doc, "order/payment/subTotal"), "1234");
    EXPECT_EQ(LogTexts()[LogTexts().size() - 6], "P_PROMOCODE  = BEMVINDO10");
  }
}

TEST_F(PostOperations, ValidationWithAParameterNineThatIsNoPacketSendsNothing) {
  auto params = Params("VALIDA_PROMOCODE", sandbox_.BaseUrl(), "12345678909");
  params.insert(params.end(), {Variant("X"), Variant("L"), Variant("1"), Variant("not a packet")});
  Variant result = Variant::Array(2);
  EXPECT_FALSE(Call(params, result));
  auto lines = LogTexts();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[2],
              StartsWith("Exception IntegracaoLumirex: VALIDA_PROMOCODE: not a data packet"));
  EXPECT_TRUE(sandbox_.Journal().empty());
  EXPECT_EQ(result, Variant::Array(2));
}

TEST_F(PostOperations, TheDefaultDatabaseIsFoundInABaseFolderWithABlank) {
  std::filesystem::path base = base_.path() / "Caixa 1";
  std::filesystem::create_directories(base / "Dados");
  std::filesystem::copy_file(database_, base / "Dados" / "pos.sqlite");
  lumirex::SetBaseDir(base.string());
  lumirex::SetConnectionString(std::nullopt);
  Variant result = Variant::Array(2);
  ASSERT_TRUE(Call(Params("VENDA_CANC", sandbox_.BaseUrl(), "", "0001", "001", "000123"), result));
  EXPECT_EQ(OnlyRequest().document.find("<orderId/>"), std::string::npos);  // the sale was read
  EXPECT_FALSE(std::filesystem::exists(base_.path() / "Caixa"));  // nothing made at a cut path
}

TEST_F(PostOperations, ALargeSaleReachesTheService) {
  std::string sql;
  for (int i = 0; i < 300; ++i) {
    std::string code = "P" + std::to_string(i);
    sql += "INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO) VALUES ('" + code +
           "', '01', 'Produto de número " + std::to_string(i) + "');";
    sql +=
        "INSERT INTO ITEMVENDA (CDFILIAL, CDCAIXA, NRSEQVENDA, NRSEQITEM, CDPRODUTO, QTPRODVEND, "
        "VRUNITVEND) VALUES ('0001', '001', '000123', " +
        std::to_string(100 + i) + ", '" + code + "', 1, 1.25);";
  }
  lumirex::testing::RunSqlite(database_, "BEGIN;" + sql + "COMMIT;");
  Variant result = Variant::Array(2);
  ASSERT_TRUE(Call(Params("VENDA", sandbox_.BaseUrl(), "", "0001", "001", "000123"), result));
  EXPECT_EQ(result.items()[0], Variant(false)) << result.items()[1].asString();
  EXPECT_GT(OnlyRequest().body.size(), 32u * 1024);
}

TEST_F(PostOperations, DatabaseFailuresFailTheCallBeforeAnythingIsSent) {
  struct Case {
    std::string name;
    std::function<void()> arrange;
    std::vector<Variant> params;
    std::string message;  // part of the failure line
  };
  std::string url = sandbox_.BaseUrl();
  std::vector<Case> cases = {
      {"over-long key part", [] {}, Params("VENDA", url, "", "0001", "001", std::string(17, '1')),
       "parameter P_NRSEQVENDA takes at most 16 characters"},
      {"missing database", [&] { std::filesystem::remove(database_); },
       Params("VENDA_CANC", url, "", "0001", "001", "000123"), "pos.sqlite"},
      {"no tables",
       [&] {
         std::filesystem::remove(database_);
         lumirex::testing::RunSqlite(database_, "CREATE TABLE OTHER (X TEXT);");
       },
       Params("VENDA", url, "", "0001", "001", "000123"), "VENDA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::Finalize();
    std::filesystem::remove_all(base_.path() / "Dados" / "LogIntegracaoOrvo");
    services_->messages.clear();
    c.arrange();
    Variant result = Variant::Array(2);
    EXPECT_FALSE(Call(c.params, result));
    auto lines = LogTexts();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], kSeparator);
    EXPECT_THAT(lines[2], StartsWith("Exception IntegracaoLumirex: "));
    EXPECT_THAT(lines[2], HasSubstr(c.message));
    EXPECT_THAT(services_->messages, ElementsAre(lines[2]));
    EXPECT_TRUE(sandbox_.Journal().empty());
    EXPECT_EQ(result, Variant::Array(2));
  }
}

}  // namespace
}  // namespace calltest
