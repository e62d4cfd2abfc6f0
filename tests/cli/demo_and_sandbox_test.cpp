// `lumirex demo` and `lumirex sandbox`, run as a person would run them.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <regex>
#include <string>

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
