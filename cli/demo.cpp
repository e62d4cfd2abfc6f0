#include "cli/demo.hpp"

#include <filesystem>
#include <vector>

#include "cli/call_runner.hpp"
#include "cli/host_encoding.hpp"
#include "cli/log_tail.hpp"
#include "cli/parameter_list.hpp"
#include "cli/pos_database.hpp"
#include "cli/result_text.hpp"
#include "sandbox/sandbox.hpp"
#include "support/path_text.hpp"

namespace lumirex::cli {

namespace {

// The demo's customer, promocode and sale, chosen to match each other: the
// sandbox's built-in customer João da Silva holds the promocode BEMVINDO10,
// and sale 000123 of till 001 in branch 0001 of the demo database is his.
constexpr const char* kCpf = "12345678909";
constexpr const char* kPromocode = "BEMVINDO10";
constexpr const char* kBranch = "0001";
constexpr const char* kTill = "001";
constexpr const char* kSequence = "000123";
constexpr const char* kSubtotal = "94,80";
const std::vector<std::string> kProducts{"1001", "2001"};

struct Step {
  std::string title;
  std::vector<Variant> params;
};

std::vector<Step> DemoSteps(const std::string& url) {
  PromocodeValidation validation{kCpf, kPromocode, kBranch, kSubtotal, kProducts, ""};
  std::string sale = std::string(kBranch) + "/" + kTill + "/" + kSequence;
  return {
      {"Customer query for CPF " + std::string(kCpf),
       CommonParameters("CONSULTA", url, kCpf, "", "", "")},
      {"Promocode " + std::string(kPromocode) + " on products 1001 and 2001, subtotal " + kSubtotal,
       ValidationParameters(url, validation)},
      {"Sale " + sale + " reported from the point-of-sale database",
       CommonParameters("VENDA", url, "", kBranch, kTill, kSequence)},
      {"Sale " + sale + " cancelled",
       CommonParameters("VENDA_CANC", url, "", kBranch, kTill, kSequence)},
  };
}

void Configure(const std::filesystem::path& dir, const std::filesystem::path& database) {
  PathsAsUtf8 paths;
  SetBaseDir(PathText(dir));
  // Set outright, so a LUMIREX_DB in the environment cannot send the demo
  // elsewhere; quoted, so a folder with blanks stays one option.
  SetConnectionString("sqlite3://db=\"" + PathText(database) + "\" readonly=1");
  SetDecimalSeparator(',');
}

}  // namespace

int RunDemo(const std::string& dirOption, std::ostream& out) {
  std::filesystem::path dir =
      std::filesystem::absolute(FileSystemPath(dirOption)).lexically_normal();
  std::filesystem::path database = dir / "Dados" / "pos.sqlite";
  std::filesystem::path sqlDir = FindSqlDir();
  BuildDemoDatabase(sqlDir, database);
  out << "Point-of-sale database: " << PathText(database) << "\n  built from "
      << PathText(sqlDir / "sqlite") << "\n";

  sandbox::Sandbox service;
  service.Start(0);
  out << "Sandbox loyalty service: " << service.BaseUrl() << "\n";
  Configure(dir, database);
  LogMark mark = MarkLog();

  int accepted = 0;
  std::vector<Step> steps = DemoSteps(service.BaseUrl());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    out << "\n" << i + 1 << ". " << steps[i].title << "\n";
    CallRun outcome = Call(std::move(steps[i].params));
    PrintOutcome(out, outcome, DecimalSeparator(), false);
    if (Accepted(outcome)) ++accepted;
  }
  service.Stop();

  std::string logFile;
  {
    PathsAsUtf8 paths;
    logFile = LogFilePath();
  }
  out << "\nLog lines written by this run (" << logFile << "):\n";
  for (const std::string& line : LogLinesSince(mark)) out << "  " << line << "\n";
  out << "\n" << accepted << " of " << steps.size() << " operations accepted.\n";
  return accepted == static_cast<int>(steps.size()) ? 0 : 1;
}

}  // namespace lumirex::cli
