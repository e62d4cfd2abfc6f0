// Command lines that cannot be carried out: status 64 and a message that says
// what was wrong. None of them reaches a service.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_process.hpp"
#include "testkit/testkit.hpp"

namespace {

using clitest::RunCli;

struct UsageCase {
  std::string name;
  std::vector<std::string> args;
  std::string message;  // part of what stderr must say
};

void PrintTo(const UsageCase& c, std::ostream* out) {
  *out << c.name;
}

class UsageErrorTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrorTest, ExitsWith64AndSaysWhatWasWrong) {
  testkit::TempDir base;
  std::vector<std::string> args = GetParam().args;
  for (auto& arg : args) {
    if (arg == "BASE") arg = base.str();
  }
  auto run = RunCli(args);
  EXPECT_EQ(run.status, 64) << run.err;
  EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  // Nothing was called, so nothing was logged.
  EXPECT_FALSE(std::filesystem::exists(base.path() / "Dados"));
}

const std::vector<std::string> kValidation{
    "valida-promocode",    "--cpf",      "12345678909", "--promocode",
    "BEMVINDO10",          "--store",    "0001",        "--url",
    "http://127.0.0.1:9/", "--base-dir", "BASE"};

std::vector<std::string> Validation(std::vector<std::string> more) {
  std::vector<std::string> args = kValidation;
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, UsageErrorTest,
    ::testing::Values(
        UsageCase{"NoSubcommand", {}, "subcommand is required"},
        UsageCase{"UnknownSubcommand", {"frobnicate"}, "'frobnicate' is not a subcommand"},
        UsageCase{"MissingCpf", {"consulta", "--url", "http://127.0.0.1:9/"}, "--cpf"},
        UsageCase{"MissingUrl", {"consulta", "--cpf", "1", "--base-dir", "BASE"}, "LUMIREX_URL"},
        UsageCase{"MissingSaleKey",
                  {"venda", "--filial", "0001", "--caixa", "001", "--url", "http://x/"},
                  "--seq"},
        UsageCase{"NoItems", Validation({"--subtotal", "1,00"}),
                  "either as --product CODE ... or as --items PACKET.xml"},
        UsageCase{"ProductsAndItems",
                  Validation({"--subtotal", "1,00", "--product", "1001", "--items", "x.xml"}),
                  "excludes"},
        UsageCase{"ThousandsSeparator", Validation({"--subtotal", "1.234,56", "--product", "1"}),
                  "'1.234,56' is not an amount"},
        UsageCase{"LettersInSubtotal", Validation({"--subtotal", "12a", "--product", "1"}),
                  "'12a' is not an amount"},
        UsageCase{"UnreadableItems",
                  Validation({"--subtotal", "1", "--items", "/nonexistent/items.xml"}),
                  "cannot read the items file '/nonexistent/items.xml'"},
        UsageCase{"BadSeparator",
                  {"consulta", "--cpf", "1", "--url", "http://x/", "--decimal-separator", ";",
                   "--base-dir", "BASE"},
                  "--decimal-separator takes"},
        UsageCase{"LetterTheHostEncodingLacks",
                  {"consulta", "--host-encoding", "windows-1252", "--cpf",
                   "\xC5\x81"
                   "1",
                   "--url", "http://x/", "--base-dir", "BASE"},
                  "parameter 2 holds U+0141, which windows-1252 lacks"},
        UsageCase{"ArgumentNotInTheHostEncoding",
                  {"consulta", "--cpf",
                   "12\xff"
                   "3",
                   "--url", "http://x/", "--base-dir", "BASE", "--host-encoding", "UTF-8"},
                  "--cpf (\"12\\xff3\") is not valid UTF-8 at byte 3"},
        UsageCase{"PortOutOfRange", {"sandbox", "--port", "70000"}, "70000"},
        UsageCase{"MissingFixture",
                  {"sandbox", "--fixture", "/nonexistent/f.json"},
                  "/nonexistent/f.json"}),
    [](const auto& info) { return info.param.name; });

TEST(CliUsage, MalformedFixtureIsAUsageErrorNamingTheProblem) {
  testkit::TempDir dir;
  auto fixture = dir.path() / "fixture.json";
  testkit::WriteFile(fixture, R"({"customers": [{"cpf": "1", "nome": "x"}]})");
  auto run = RunCli({"sandbox", "--fixture", fixture.string()});
  EXPECT_EQ(run.status, 64);
  EXPECT_NE(run.err.find("nome"), std::string::npos) << run.err;
}

TEST(CliUsage, HelpOfTheCommandAndOfEverySubcommandHasAnExample) {
  for (std::string sub :
       {"", "consulta", "valida-promocode", "venda", "venda-canc", "call", "sandbox", "demo"}) {
    std::vector<std::string> args;
    if (!sub.empty()) args.push_back(sub);
    args.push_back("--help");
    auto run = RunCli(args);
    EXPECT_EQ(run.status, 0) << sub;
    EXPECT_NE(run.out.find("Example"), std::string::npos) << sub << ":\n" << run.out;
    EXPECT_NE(run.out.find("lumirex " + sub), std::string::npos) << sub << ":\n" << run.out;
  }
}

}  // namespace
