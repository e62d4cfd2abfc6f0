// `lumirex demo` and `lumirex sandbox`, run as a person would run them.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "cli_process.hpp"
#include "testkit/testkit.hpp"

namespace {

using clitest::Background;
using clitest::RunCli;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(CliDemo, RunsTheFourOperationsAcceptedAndShowsTheLogLines) {
  testkit::TempDir dir;
  auto demoDir = dir.path() / "the demo";  // a blank in the path must not split the database's name
  auto run = RunCli({"demo", "--dir", demoDir.string()},
                    {{"LUMIREX_DB", "sqlite3://db=/nonexistent.sqlite"}});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(Count(run.out, ": service accepted"), 4u) << run.out;
  EXPECT_NE(run.out.find("4 of 4 operations accepted"), std::string::npos);
  EXPECT_EQ(Count(run.out, "- INICIO"), 4u) << run.out;
  EXPECT_EQ(Count(run.out, "- FIM"), 4u) << run.out;
  EXPECT_NE(run.out.find("P_OPERACAO   = VENDA_CANC"), std::string::npos);
  EXPECT_NE(run.out.find("João da Silva"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(demoDir / "Dados" / "pos.sqlite"));

  // A second run starts afresh and shows only its own log lines.
  auto again = RunCli({"demo", "--dir", demoDir.string()});
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_EQ(Count(again.out, "- INICIO"), 4u);
}

TEST(CliSandbox, PrintsItsUrlFirstServesCallsAndStopsOnSigterm) {
  testkit::TempDir base;
  Background sandbox({"sandbox"});
  std::string url = sandbox.ReadLine();
  ASSERT_TRUE(std::regex_match(url, std::regex(R"(http://127\.0\.0\.1:[0-9]+/)"))) << url;

  auto run = RunCli({"consulta", "--cpf", "11144477735", "--base-dir", base.str()},
                    {{"LUMIREX_URL", url}});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("José Ângelo Pereira"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Promocodes: none"), std::string::npos) << run.out;

  EXPECT_EQ(sandbox.Stop(SIGTERM), 0);
}

TEST(CliSandbox, ServesTheCustomersOfAFixtureFile) {
  testkit::TempDir dir;
  auto fixture = dir.path() / "fixture.json";
  testkit::WriteFile(fixture, R"({"customers": [{"cpf": "55566677788", "name": "Zé Ninguém",
                                  "balance": 5}]})");
  Background sandbox({"sandbox", "--fixture", fixture.string()});
  std::string url = sandbox.ReadLine();
  auto known = RunCli({"consulta", "--cpf", "55566677788", "--base-dir", dir.str(), "--url", url});
  EXPECT_EQ(known.status, 0) << known.out;
  EXPECT_NE(known.out.find("Zé Ninguém"), std::string::npos) << known.out;
  EXPECT_NE(known.out.find("0,05"), std::string::npos) << known.out;
  auto builtIn =
      RunCli({"consulta", "--cpf", "12345678909", "--base-dir", dir.str(), "--url", url});
  EXPECT_EQ(builtIn.status, 1) << builtIn.out;
  EXPECT_EQ(sandbox.Stop(SIGINT), 0);
}

}  // namespace

namespace {

struct SandboxRow {
  std::vector<std::string> args;
  bool atRoot = false;  // call the root of the printed URL instead of the URL
  int consultaStatus;
  std::string verboseHas;  // "" when the sandbox is not verbose
};

TEST(CliSandbox, BasePathFaultsAndTheirRateShapeWhatATillGets) {
  const std::vector<SandboxRow> rows = {
      {{"--base-path", "/api/"}, false, 0, ""},
      {{"--base-path", "api"}, true, 1, ""},  // 404 with success false: the service's verdict
      {{"--fault", "status=503", "--verbose"},
       false,
       2,
       " GET /user?cpf=11144477735&pdv=true -> 503 (fault)"},
      {{"--fault", "html", "--fault", "status=502", "--fault-rate", "0", "--verbose"},
       false,
       0,
       " -> 200 success true: Cliente encontrado"},
  };
  testkit::TempDir base;
  for (const SandboxRow& row : rows) {
    std::vector<std::string> args{"sandbox"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    Background sandbox(args);
    std::string url = sandbox.ReadLine();
    SCOPED_TRACE(url);
    if (row.args[0] == "--base-path") {
      EXPECT_TRUE(url.ends_with("/api/"));
    }
    if (row.atRoot) url = url.substr(0, url.find("/api/") + 1);
    auto run = RunCli({"consulta", "--cpf", "11144477735", "--base-dir", base.str(), "--url", url});
    EXPECT_EQ(run.status, row.consultaStatus) << run.out << run.err;
    if (!row.verboseHas.empty()) {
      std::string line = sandbox.ReadLine();
      EXPECT_NE(line.find(row.verboseHas), std::string::npos) << line;
    }
    EXPECT_EQ(sandbox.Stop(SIGTERM), 0);
  }
}

TEST(CliSandbox, APortInUseExitsWith2SayingSo) {
  Background first({"sandbox"});
  std::string url = first.ReadLine();
  std::string port = url.substr(url.rfind(':') + 1);
  port.pop_back();  // the trailing slash
  auto second = RunCli({"sandbox", "--port", port});
  EXPECT_EQ(second.status, 2);
  EXPECT_NE(second.err.find("the port is taken"), std::string::npos) << second.err;
  EXPECT_EQ(first.Stop(SIGTERM), 0);
}

}  // namespace
