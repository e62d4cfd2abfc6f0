// `lumirex log` over a day's log written by real calls against the sandbox:
// accepted, declined and failed ones, a resend from the outbox, and a line
// that belongs to no call.
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

using clitest::RunCli;
using nlohmann::json;

struct LoggedRun {
  std::vector<std::string> args;
  lumirex::sandbox::Faults faults;
  bool unreachable = false;  // sent to a port nothing listens on
  // What `lumirex log --failed --all --json` must say of it; "" when it is not failed.
  std::string failureHas;
  // What the outbox's resend got: "" when it is not resent; otherwise it is
  // not in --failed without --all.
  std::string later;
};

std::vector<LoggedRun> MixOfCalls() {
  lumirex::sandbox::Faults unavailable;
  unavailable.status = 503;
  lumirex::sandbox::Faults malformed;
  malformed.malformedXml = true;
  auto sale = [](const char* command, const char* till) {
    std::vector<std::string> args{command, "--filial", "0001", "--caixa", till, "--seq", "000123"};
    return args;
  };
  return {
      {{"consulta", "--cpf", "12345678909"}, {}, false, ""},
      {{"consulta", "--cpf", "00000000000"}, {}, false, ""},  // declined
      {sale("venda", "001"), {}, false, ""},
      {sale("venda", "001"), {}, false, ""},  // declined: already recorded
      {sale("venda", "002"), unavailable, false, "503", "accepted later"},
      // The cancellation arrived before its answer was lost: the resend is a repeat.
      {sale("venda-canc", "001"), malformed, false, "could not be read", "declined later"},
      {{"consulta", "--cpf", "11144477735"}, {}, true, "connect"},
  };
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(CliLog, FailedJsonListsExactlyTheFailedCallsWithKeysAndReasonsAndTheStrayLine) {
  testkit::TempDir base;
  lumirex::cli::BuildDemoDatabase(testkit::SourceDir() / "sql",
                                  base.path() / "Dados" / "pos.sqlite");
  lumirex::sandbox::Sandbox service;
  service.Start(0);
  std::vector<const LoggedRun*> failed;
  const std::string outbox = (base.path() / "outbox.sqlite").string();
  const std::vector<LoggedRun> runs = MixOfCalls();
  for (const LoggedRun& run : runs) {
    service.SetFaults(run.faults);
    std::vector<std::string> args = run.args;
    args.insert(args.end(), {"--base-dir", base.str(), "--outbox", outbox, "--url",
                             run.unreachable ? "http://127.0.0.1:1/" : service.BaseUrl()});
    auto finished = RunCli(args);
    EXPECT_EQ(finished.status == 2, !run.failureHas.empty()) << args[0] << finished.out;
    if (!run.failureHas.empty()) failed.push_back(&run);
  }
  // The sale the 503 kept and the cancellation whose answer was unreadable go
  // again, as blocks of their own that did not fail.
  service.SetFaults({});
  EXPECT_EQ(RunCli({"outbox", "send", "--outbox", outbox, "--base-dir", base.str()}).status, 0);
  // The till reports the delivered sale again, and the service refuses the
  // repeat: the sale was settled by the resend, and stays "accepted later".
  std::vector<std::string> repeat = runs[4].args;
  repeat.insert(repeat.end(), {"--base-dir", base.str(), "--url", service.BaseUrl()});
  EXPECT_EQ(RunCli(repeat).status, 1);
  service.Stop();

  // A line slipped in after the first call's "FIM" continues no entry; its
  // escape sequence reaches no terminal, and JSON keeps it exact.
  auto logs =
      std::filesystem::recursive_directory_iterator(base.path() / "Dados" / "LogIntegracaoOrvo");
  std::filesystem::path file;
  for (const auto& entry : logs) {
    if (entry.is_regular_file()) file = entry.path();
  }
  std::string bytes = testkit::ReadFile(file);
  const std::size_t firstEnd = bytes.find(" - FIM\r\n") + 8;
  testkit::WriteFile(file, bytes.insert(firstEnd, "written by hand\x1b]0;\xc2\x9b\r\n"));
  const std::size_t strayLine = std::count(bytes.begin(), bytes.begin() + firstEnd, '\n') + 1;

  // What the outbox delivered later is not to be reported again by hand.
  auto toReport = RunCli({"log", "--failed", "--json", "--base-dir", base.str()});
  ASSERT_EQ(toReport.status, 0) << toReport.err;
  EXPECT_EQ(json::parse(toReport.out)["calls"].size(), 1u) << toReport.out;

  auto listed = RunCli({"log", "--failed", "--all", "--json", "--base-dir", base.str()});
  ASSERT_EQ(listed.status, 0) << listed.err;
  json out = json::parse(listed.out);
  ASSERT_EQ(out["calls"].size(), failed.size()) << out.dump(2);
  for (std::size_t i = 0; i < failed.size(); ++i) {
    const json& call = out["calls"][i];
    const LoggedRun& run = *failed[i];
    SCOPED_TRACE(call.dump(2));
    EXPECT_EQ(call["outcome"], run.later.empty() ? "failed" : run.later);
    EXPECT_EQ(call["answered_later"].is_null(), run.later.empty());
    EXPECT_EQ(Lower(call["operation"]),
              Lower(run.args[0] == "venda-canc" ? "VENDA_CANC" : run.args[0]));
    if (run.args[1] == "--cpf") {
      EXPECT_EQ(call["cpf"], run.args[2]);
    } else {
      EXPECT_EQ(call["filial"].get<std::string>() + "/" + call["caixa"].get<std::string>() + "/" +
                    call["seq"].get<std::string>(),
                run.args[2] + "/" + run.args[4] + "/" + run.args[6]);
    }
    EXPECT_NE(Lower(call["failure"]).find(run.failureHas), std::string::npos);
  }
  // The unreadable answer is in the call with its failure.
  EXPECT_NE(out["calls"][1]["answer"].get<std::string>().find("<success>"), std::string::npos);
  ASSERT_EQ(out["unparsed"].size(), 1u);
  EXPECT_EQ(out["unparsed"][0]["line"], strayLine);
  EXPECT_EQ(out["unparsed"][0]["text"], "written by hand\x1b]0;\xc2\x9b");

  // In words: a line a call, with the verdicts, and the stray line on stderr.
  auto all = RunCli({"log", "--base-dir", base.str()});
  EXPECT_EQ(all.status, 0);
  // The unreadable answer's report is kept too: it goes again and is answered.
  EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 10) << all.out;
  EXPECT_NE(all.out.find("accepted (outbox report "), std::string::npos) << all.out;
  EXPECT_NE(all.out.find("declined: Cliente não encontrado"), std::string::npos) << all.out;
  EXPECT_NE(all.err.find("line " + std::to_string(strayLine) +
                         ": not part of any call: written by hand\\x1b]0;\\u009b\n"),
            std::string::npos)
      << all.err;

  auto sale = RunCli(
      {"log", "--sale", "0001/001/000123", "--operation", "VENDA", "--base-dir", base.str()});
  EXPECT_EQ(std::count(sale.out.begin(), sale.out.end(), '\n'), 2) << sale.out;

  EXPECT_EQ(RunCli({"log", "--date", "2026-02-30", "--base-dir", base.str()}).status, 64);
  EXPECT_EQ(RunCli({"log", "--date", "1999-01-01", "--base-dir", base.str()}).status, 2);
}

}  // namespace

// What became of a failed report is read from the blocks after it, in the
// same file or a later day's, whatever else a resend block says.
TEST(CliLog, AFailedReportAnsweredLaterIsNotToBeReportedAgain) {
  auto block = [](const std::string& day, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += day + " 10:00:00 - " + line + "\r\n";
    return text;
  };
  auto sale = [&](const std::string& day, const std::string& seq, const std::string& outbox,
                  const std::string& end) {
    std::vector<std::string> lines = {std::string(50, '-'), "INICIO"};
    if (!outbox.empty()) lines.push_back("P_OUTBOX     = " + outbox);
    lines.insert(lines.end(), {"P_OPERACAO   = VENDA", "P_CDFILIAL   = 0001", "P_CDCAIXA    = 001",
                               "P_NRSEQVENDA = " + seq});
    if (!outbox.empty()) lines.push_back("P_NOTE       = a label this reader does not know");
    if (end == "FIM") {
      lines.insert(lines.end(), {"RETORNO      = <r><success>true</success></r>", "FIM"});
    } else {
      lines.push_back("Exception IntegracaoLumirex: " + end);
    }
    return block(day, lines);
  };
  testkit::TempDir base;
  const auto folder = base.path() / "Dados" / "LogIntegracaoOrvo" / "LogIntegracaoOrvo_2026";
  std::filesystem::create_directories(folder);
  testkit::WriteFile(
      folder / "LogIntegracaoOrvo_0101.txt",
      sale("01/01/2026", "1", "", "HTTP 503") +      // answered by the resend below
          sale("01/01/2026", "2", "", "HTTP 503") +  // resent in vain
          sale("01/01/2026", "3", "", "HTTP 503") +  // answered the next day
          sale("01/01/2026", "1", "report 1 kept x, attempt 2; it may have arrived", "FIM") +
          sale("01/01/2026", "2", "report 2 kept x, attempt 2", "HTTP 503"));
  testkit::WriteFile(folder / "LogIntegracaoOrvo_0201.txt",
                     sale("02/01/2026", "3", "report 3 kept x, attempt 2", "FIM"));

  auto run =
      RunCli({"log", "--failed", "--json", "--date", "2026-01-01", "--base-dir", base.str()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");  // the unknown label is part of its block
  json out = json::parse(run.out);
  ASSERT_EQ(out["calls"].size(), 2u) << out.dump(2);
  EXPECT_EQ(out["calls"][0]["seq"], "2");
  EXPECT_EQ(out["calls"][1]["seq"], "2");
  EXPECT_EQ(out["calls"][1]["other_lines"]["P_NOTE"], "a label this reader does not know");

  run = RunCli({"log", "--failed", "--all", "--date", "2026-01-01", "--base-dir", base.str()});
  EXPECT_NE(run.out.find("accepted later: this call failed: HTTP 503; answered later through "
                         "the outbox (line 22)"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("LogIntegracaoOrvo_0201.txt line 1)"), std::string::npos) << run.out;
}
