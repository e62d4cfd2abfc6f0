#include "end_to_end.hpp"

#include <gmock/gmock.h>

#include "database/sqlite_database.hpp"
#include "dataset/dataset.hpp"

namespace calltest {

namespace {

// The till's items as a data packet: one row for each product code.
std::string ItemsPacket(const std::vector<std::string>& products) {
  lumirex::TClientDataSet items;
  items.AddField({"CDPRODUTO", lumirex::FieldType::String, 20});
  items.CreateDataSet();
  for (const std::string& code : products) {
    items.Insert();
    items.FieldByName("CDPRODUTO").SetAsString(code);
    items.Post();
  }
  return items.GetData();
}

}  // namespace

void CreateDemoDatabase(const std::filesystem::path& file) {
  std::filesystem::create_directories(file.parent_path());
  // One transaction keeps the set-up quick.
  lumirex::testing::RunSqlite(
      file, "BEGIN;" + testkit::ReadFile(testkit::SourceDir() / "sql/sqlite/pos-schema.sql") +
                testkit::ReadFile(testkit::SourceDir() / "sql/sqlite/pos-demo.sql") + "COMMIT;");
}

void EndToEnd::SetUp() {
  CallTest::SetUp();
  database_ = base_.path() / "Dados" / "pos.sqlite";
  CreateDemoDatabase(database_);
  sandbox_.Start();
}

void EndToEnd::TearDown() {
  sandbox_.Stop();
  CallTest::TearDown();
}

std::vector<std::string> EndToEnd::Consulta(const std::string& cpf) const {
  return {"CONSULTA", sandbox_.BaseUrl(), cpf, kBranch, kTill, kSequence};
}

std::vector<std::string> EndToEnd::Sale(const std::string& operation, const std::string& branch,
                                        const std::string& till,
                                        const std::string& sequence) const {
  return {operation, sandbox_.BaseUrl(), kCpf, branch, till, sequence};
}

std::vector<std::string> EndToEnd::Validation(const std::string& cpf,
                                              const std::string& promocode) const {
  static const std::string items = ItemsPacket({"1001", "1002"});
  return {"VALIDA_PROMOCODE", sandbox_.BaseUrl(), cpf,      kBranch, kTill,
          kSequence,          promocode,          "LOJA-1", "12,34", items};
}

void EndToEnd::CopyDemoSaleTo(const std::string& till) {
  lumirex::testing::RunSqlite(
      database_,
      "INSERT INTO VENDA SELECT CDFILIAL, '" + till +
          "', NRSEQVENDA, DTVENDA, DTENTRVENDA, NRCPFLUMIREX, CDPROMOLUMIREX, VRDESCCASHORVO "
          "FROM VENDA WHERE CDCAIXA = '" +
          kTill + "'; INSERT INTO ITEMVENDA SELECT CDFILIAL, '" + till +
          "', NRSEQVENDA, NRSEQITEM, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRUNITVENDCL, "
          "VRDESITVEND, VRACRITVEND, VRRATTXSERV FROM ITEMVENDA WHERE CDCAIXA = '" +
          kTill + "';");
}

lumirex::Variant EndToEnd::CallersResult(int32_t count) {
  std::vector<lumirex::Variant> items;
  for (int32_t i = 0; i < count; ++i) items.emplace_back("caller's " + std::to_string(i));
  return lumirex::Variant(std::move(items));
}

Outcome EndToEnd::Call(const std::vector<std::string>& params, int32_t count) {
  CArray list(params);
  return Call(list, count);
}

Outcome EndToEnd::Call(const CArray& list, int32_t count) {
  services_->messages.clear();
  CArray result(count);
  const lumirex::Variant before = CallersResult(count);
  for (int32_t i = 0; i < count; ++i) result.SetText(i, before.items()[i].asString());
  Outcome outcome;
  outcome.returned = CallThroughC(list, result);
  outcome.result = result.Value();
  std::string message(4096, '\0');
  LumirexLastCall(&outcome.last, message.data(), message.size());
  outcome.lastMessage = message.c_str();
  return outcome;
}

void EndToEnd::ExpectFailure(const Outcome& outcome, const std::string& after,
                             const std::string& reason) {
  EXPECT_FALSE(outcome.returned);
  const auto lines = LogTexts();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], after);
  EXPECT_THAT(lines.back(), ::testing::HasSubstr(reason));
  EXPECT_THAT(services_->messages, ::testing::ElementsAre(lines.back()));
  EXPECT_NE(outcome.last.error, LUMIREX_OK);
  EXPECT_THAT(lines.back(),
              ::testing::StartsWith("Exception IntegracaoLumirex: " + outcome.lastMessage));
  EXPECT_FALSE(outcome.lastMessage.empty());
  EXPECT_EQ(outcome.result, CallersResult(static_cast<int32_t>(outcome.result.items().size())));
}

void EndToEnd::ExpectAccepted(const std::vector<std::string>& params) {
  const Outcome outcome = Call(params);
  ASSERT_TRUE(outcome.returned) << params[0] << ": " << LogTexts().back();
  EXPECT_EQ(outcome.result.items()[0], lumirex::Variant(false))
      << params[0] << ": " << ::testing::PrintToString(outcome.result.items()[1]);
  EXPECT_EQ(LogTexts().back(), "FIM");
  EXPECT_TRUE(services_->messages.empty());
  EXPECT_EQ(outcome.last.error, LUMIREX_OK);
  EXPECT_EQ(outcome.lastMessage, "");
}

void EndToEnd::ExpectDeclined(const Outcome& outcome, const std::string& message) {
  EXPECT_TRUE(outcome.returned);
  EXPECT_EQ(outcome.result.items()[0], lumirex::Variant(true));
  EXPECT_EQ(outcome.result.items()[1], lumirex::Variant(message));
  EXPECT_EQ(LogTexts().back(), "FIM");
  EXPECT_TRUE(services_->messages.empty());
  EXPECT_EQ(outcome.last.error, LUMIREX_OK);
}

}  // namespace calltest
