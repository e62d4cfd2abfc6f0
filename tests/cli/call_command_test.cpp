// The call subcommands against a sandbox service running in the test's own
// process: what they print, in words and as JSON, and their exit statuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/pos_database.hpp"
#include "cli_process.hpp"
#include "sandbox/sandbox.hpp"
#include "testkit/testkit.hpp"

namespace {

using clitest::Finished;
using clitest::RunCli;
using nlohmann::json;

class CallCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { service_.Start(0); }
  void TearDown() override { service_.Stop(); }

  // `lumirex args... --url <sandbox> --base-dir <temp>`.
  Finished Run(std::vector<std::string> args) {
    args.insert(args.end(), {"--url", service_.BaseUrl(), "--base-dir", base_.str()});
    return RunCli(args);
  }

  static json Json(const Finished& run) {
    try {
      return json::parse(run.out);
    } catch (const json::exception& error) {
      ADD_FAILURE() << error.what() << "\n" << run.out << run.err;
      return json::object();
    }
  }

  void BuildDemoDatabase() {
    lumirex::cli::BuildDemoDatabase(testkit::SourceDir() / "sql",
                                    base_.path() / "Dados" / "pos.sqlite");
  }

  lumirex::sandbox::Sandbox service_;
  testkit::TempDir base_;
};

TEST_F(CallCommandTest, ConsultaJsonDecodesThePromocodesPacket) {
  auto run = Run({"consulta", "--cpf", "123.456.789-09", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  json out = Json(run);
  EXPECT_EQ(out["returned"], true);
  ASSERT_EQ(out["result"].size(), 5u);
  const json& result = out["result"];
  EXPECT_EQ(result[0], false);
  EXPECT_EQ(result[1], "Cliente encontrado");
  EXPECT_EQ(result[2], "João da Silva");
  EXPECT_DOUBLE_EQ(result[3].get<double>(), 12.5);

  std::vector<std::string> names;
  for (const json& field : result[4]["fields"]) names.push_back(field["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"CDPROMOCAO", "DSPROMOCAO", "DTVALPROMO", "DSTIPPROMO",
                                             "VRPROMOCAO"}));
  EXPECT_EQ(result[4]["fields"][0]["type"], "string");
  EXPECT_EQ(result[4]["fields"][0]["size"], 50);
  EXPECT_EQ(result[4]["fields"][2]["type"], "dateTime");

  const json& rows = result[4]["rows"];
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (json{{"CDPROMOCAO", "BEMVINDO10"},
                           {"DSPROMOCAO", "Desconto de boas-vindas"},
                           {"DTVALPROMO", "2099-12-31T23:59:59"},
                           {"DSTIPPROMO", "discount"},
                           {"VRPROMOCAO", 10.0}}));
  EXPECT_EQ(rows[2]["DSPROMOCAO"], "Promoção de Natal");
  // No expiration date: a year from the reading, still a date-time text.
  EXPECT_EQ(rows[1]["DTVALPROMO"].get<std::string>().size(), 19u);

  EXPECT_TRUE(std::filesystem::exists(base_.path() / "Dados" / "LogIntegracaoOrvo"));
}

// What is given on the command line wins over the environment, whichever
// call subcommand it is given to.
TEST_F(CallCommandTest, OptionsGivenWinOverTheEnvironment) {
  const clitest::EnvChanges elsewhere{{"LUMIREX_URL", "http://127.0.0.1:1/"},
                                      {"LUMIREX_BASE_DIR", (base_.path() / "env").string()}};
  for (const char* command : {"consulta", "venda"}) {
    std::vector<std::string> args{command, "--url", service_.BaseUrl(), "--base-dir", base_.str()};
    if (std::string(command) == "consulta") {
      args.insert(args.end(), {"--cpf", "123.456.789-09"});
    } else {
      BuildDemoDatabase();
      args.insert(args.end(), {"--filial", "0001", "--caixa", "001", "--seq", "000123"});
    }
    EXPECT_EQ(RunCli(args, elsewhere).status, 0) << command;
  }
  EXPECT_FALSE(std::filesystem::exists(base_.path() / "env"));
}

TEST_F(CallCommandTest, ConsultaInWordsShowsCustomerBalancePromocodesAndLog) {
  auto run = Run({"consulta", "--cpf", "12345678909"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* expected : {"CONSULTA: service accepted", "Cliente encontrado", "João da Silva",
                               "12,50", "BEMVINDO10", "Promoção de Natal", "2099-12-31T23:59:59",
                               "10,00", "/Dados/LogIntegracaoOrvo/LogIntegracaoOrvo_"}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
  }
}

TEST_F(CallCommandTest, DeclinedCustomerQueryExitsWith1AndShowsTheMessageInUtf8) {
  auto run = Run({"consulta", "--cpf", "00000000000", "--json"});
  EXPECT_EQ(run.status, 1) << run.err;
  json out = Json(run);
  EXPECT_EQ(out["returned"], true);
  EXPECT_EQ(out["result"][0], true);
  EXPECT_EQ(out["result"][1], "Cliente não encontrado");
  EXPECT_EQ(out["result"][4]["rows"], json::array());
}

TEST_F(CallCommandTest, FailedCallExitsWith2AndShowsTheOperatorMessage) {
  int port = service_.Port();
  service_.Stop();  // nothing listens there any more
  auto run = RunCli({"consulta", "--cpf", "1", "--json", "--url",
                     "http://127.0.0.1:" + std::to_string(port) + "/", "--base-dir", base_.str()});
  EXPECT_EQ(run.status, 2);
  json out = Json(run);
  EXPECT_EQ(out["returned"], false);
  EXPECT_EQ(out["result"], json::array({nullptr, nullptr, nullptr, nullptr, nullptr}));
  EXPECT_EQ(out["error"]["code"], "LUMIREX_E_CONNECT");
  EXPECT_EQ(out["error"]["number"], 4);
  EXPECT_EQ(out["error"]["sent"], false);
  EXPECT_NE(run.err.find("lumirex: Exception IntegracaoLumirex: "), std::string::npos) << run.err;
  service_.Start(0);  // for TearDown
}

TEST_F(CallCommandTest, SaleIsAcceptedOnceThenDeclinedAndItsCancellationAccepted) {
  BuildDemoDatabase();
  std::vector<std::string> key{"--filial", "0001", "--caixa", "001", "--seq", "000123"};
  auto sale = std::vector<std::string>{"venda"};
  sale.insert(sale.end(), key.begin(), key.end());
  auto cancel = std::vector<std::string>{"venda-canc"};
  cancel.insert(cancel.end(), key.begin(), key.end());

  auto first = Run(sale);
  EXPECT_EQ(first.status, 0) << first.out << first.err;
  EXPECT_NE(first.out.find("VENDA: service accepted"), std::string::npos) << first.out;
  auto again = Run(sale);
  EXPECT_EQ(again.status, 1) << again.out;
  EXPECT_NE(again.out.find("VENDA: service declined"), std::string::npos) << again.out;
  auto cancelled = Run(cancel);
  EXPECT_EQ(cancelled.status, 0) << cancelled.out;

  auto journal = service_.Journal();
  ASSERT_EQ(journal.size(), 3u);
  EXPECT_EQ(journal[0].path, "/order");
  EXPECT_NE(journal[0].document.find("<orderId>"), std::string::npos);
  EXPECT_EQ(journal[2].path, "/order/cancel");
}

TEST_F(CallCommandTest, PromocodeValidationSendsProductsAndSubtotal) {
  auto run =
      Run({"valida-promocode", "--cpf", "12345678909", "--promocode", "BEMVINDO10", "--store",
           "0001", "--subtotal", "94.80", "--product", "1001", "2001", "--decimal-separator", "."});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  auto journal = service_.Journal();
  ASSERT_EQ(journal.size(), 1u);
  const std::string& document = journal[0].document;
  EXPECT_NE(document.find("<products>1001</products><products>2001</products>"), std::string::npos)
      << document;
  EXPECT_NE(document.find("<subTotal>9480</subTotal>"), std::string::npos) << document;

  auto expired = Run({"valida-promocode", "--cpf", "12345678909", "--promocode", "NATAL2020",
                      "--store", "0001", "--subtotal", "10", "--product", "1001"});
  EXPECT_EQ(expired.status, 1) << expired.out;
}

TEST_F(CallCommandTest, PromocodeValidationTakesAnItemsPacketFile) {
  auto items = base_.path() / "items.xml";
  testkit::WriteFile(items,
                     "<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\"?>"
                     "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"CDPRODUTO\" "
                     "fieldtype=\"string\" WIDTH=\"20\"/></FIELDS><PARAMS/></METADATA><ROWDATA>"
                     "<ROW CDPRODUTO=\"3001\"/></ROWDATA></DATAPACKET>");
  auto run = Run({"valida-promocode", "--cpf", "98765432100", "--promocode", "DESC15", "--store",
                  "0001", "--subtotal", "7,50", "--items", items.string(), "--json"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_EQ(service_.Journal().size(), 1u);
  EXPECT_NE(service_.Journal()[0].document.find("<products>3001</products>"), std::string::npos);
  EXPECT_EQ(Json(run)["result"].size(), 2u);
}

TEST_F(CallCommandTest, CallPassesAnyListOfTextElements) {
  auto run = Run({"call", "CONSULTA", "12345678909", "", "", "", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Json(run)["result"][2], "João da Silva");

  // A list shorter than the operation needs fails the call, as from a till.
  auto shortList = Run({"call", "VENDA", "12345678909"});
  EXPECT_EQ(shortList.status, 2);
  EXPECT_NE(shortList.out.find("the parameter list has 3 elements; VENDA needs 6"),
            std::string::npos)
      << shortList.out;
  EXPECT_TRUE(service_.Journal().size() == 1u);
}

}  // namespace
