// `lumirex doctor` against a till set up right and set up wrong in the ways
// support meets most: each broken set-up fails exactly the checks it should,
// naming the setting to change, and the sound one passes with exit status 0.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "cli/pos_database.hpp"
#include "cli_process.hpp"
#include "outbox/outbox.hpp"
#include "sandbox/sandbox.hpp"
#include "support/datetime.hpp"
#include "support/log.hpp"
#include "testkit/testkit.hpp"

namespace {

using clitest::EnvChanges;
using clitest::RunCli;
using nlohmann::json;

struct Broken {
  const char* name;
  std::vector<std::string> args;  // after `doctor`, with {base} {url} {down} filled in
  EnvChanges env;
  std::set<std::string> failed;  // names of the checks that fail; none: exit 0
  std::string detail;            // text one failure's detail holds
  std::string fix;               // text that failure's fix holds
  // Makes the case's own base folder {own} before the run; none: {own} is unused.
  std::function<void(const std::filesystem::path& own)> setUp;
  std::string detailOk;  // text a passing check's detail holds
};

std::string Filled(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values) {
    for (auto at = text.find(key); at != std::string::npos; at = text.find(key)) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

TEST(CliDoctor, PassesASoundTillAndNamesTheFixForEachBrokenOne) {
  testkit::TempDir dir;
  const auto base = dir.path() / "till";
  lumirex::cli::BuildDemoDatabase(testkit::SourceDir() / "sql", base / "Dados" / "pos.sqlite");
  testkit::WriteFile(dir.path() / "a-file", "not a folder");
  lumirex::sandbox::Sandbox service;
  service.Start(0);
  service.SetBasePath("/api/");
  std::string wrongPath = service.BaseUrl();
  wrongPath.replace(wrongPath.rfind("api/"), 4, "apl/");
  lumirex::sandbox::Sandbox stopped;
  stopped.Start(0);
  const std::string downUrl = stopped.BaseUrl();
  stopped.Stop();
  // A password in the URL the service never checks: it must never be printed.
  std::string secretUrl = service.BaseUrl();
  secretUrl.insert(secretUrl.find("//") + 2, "till:s3cret-pw@");
  const std::string ownDb = "sqlite3://db=" + (base / "Dados" / "pos.sqlite").string();
  auto todaysLog = [](const std::filesystem::path& own) {
    const std::filesystem::path log = lumirex::LogFilePathIn(own.string(), lumirex::Now());
    std::filesystem::create_directories(log.parent_path());
    return log;
  };
  const std::map<std::string, std::string> values = {
      {"{base}", base.string()},    {"{secret}", secretUrl},
      {"{wrong}", wrongPath},       {"{own}", (dir.path() / "own").string()},
      {"{owndb}", ownDb},           {"{dir}", dir.str()},
      {"{url}", service.BaseUrl()}, {"{down}", downUrl}};

  std::vector<Broken> cases = {
      {"sound", {"--base-dir", "{base}", "--url", "{url}", "--cpf", "12345678909"}, {}, {}, "", ""},
      {"missing database",
       {"--base-dir", "{base}", "--url", "{url}"},
       {{"LUMIREX_DB", "sqlite3://db={dir}/srv/pos.sqlite"}},
       {"database file"},
       "LUMIREX_DB points at {dir}/srv/pos.sqlite, which does not exist",
       "set LUMIREX_DB to"},
      {"base folder is a file",
       {"--url", "{url}", "--db", "{base}/Dados/pos.sqlite"},  // a bare path, as Python takes it
       {{"LUMIREX_BASE_DIR", "{dir}/a-file"}},
       {"base folder", "log folder", "log file"},
       "LUMIREX_BASE_DIR points at {dir}/a-file, which is a file, not a folder",
       "set LUMIREX_BASE_DIR to a folder"},
      {"service down",
       {"--base-dir", "{base}", "--url", "{down}", "--cpf", "12345678909"},
       {},
       {"TCP connects"},
       "Connection refused",
       "start the service, or check the host and port in --url"},
      {"outbox that is no database",
       {"--base-dir", "{base}", "--url", "{url}", "--outbox", "{dir}/a-file"},
       {},
       {"outbox"},
       "it is damaged or not a SQLite file",
       "give --outbox a lumirex outbox file"},
  };

  const std::vector<std::string> ownArgs = {"--base-dir", "{own}", "--db",
                                            "{owndb}",    "--url", "{url}"};
  const bool root = ::geteuid() == 0;
  // A customer the service does not know is its verdict, not a wrong route.
  cases.push_back({"unknown customer",
                   {"--base-dir", "{base}", "--url", "{url}", "--cpf", "00000000000"},
                   {},
                   {},
                   "",
                   "",
                   {},
                   "declined: Cliente n"});
  cases.push_back({"service failing",
                   {"--base-dir", "{base}", "--url", "{url}"},
                   {},
                   {"service route"},
                   "answers 503",
                   "ask its provider",
                   [&](const std::filesystem::path&) {
                     lumirex::sandbox::Faults failing;
                     failing.status = 503;
                     service.SetFaults(failing);
                   }});
  cases.push_back({"wrong base path",
                   {"--base-dir", "{base}", "--url", "{wrong}"},
                   {},
                   {"service route"},
                   "answers 404 at {wrong}user: check the base path",
                   "--url"});
  cases.push_back({"wrong base path, with a CPF",
                   {"--base-dir", "{base}", "--url", "{wrong}", "--cpf", "12345678909"},
                   {},
                   {"service route"},
                   "answers 404",
                   "--url"});
  cases.push_back(
      {"password in the URL", {"--base-dir", "{base}", "--url", "{secret}"}, {}, {}, "", ""});
  cases.push_back({"FIFO at the day's log",
                   ownArgs,
                   {},
                   {"log file"},
                   "is not a regular file",
                   "remove",
                   [&](const std::filesystem::path& own) {
                     ASSERT_EQ(::mkfifo(todaysLog(own).c_str(), 0600), 0);
                   }});
  cases.push_back({"link at the day's log",
                   ownArgs,
                   {},
                   {"log file"},
                   "is a symbolic link",
                   "remove",
                   [&](const std::filesystem::path& own) {
                     std::filesystem::create_symlink(dir.path() / "a-file", todaysLog(own));
                   }});
  cases.push_back({"read-only base folder with its log folder",
                   ownArgs,
                   {},
                   {},
                   "",
                   "",
                   [&](const std::filesystem::path& own) {
                     std::filesystem::permissions(
                         todaysLog(own).parent_path().parent_path().parent_path().parent_path(),
                         std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
                     if (root) ::chown(own.c_str(), 1234, 1234);
                     if (root) ::chown((own / "Dados").c_str(), 1234, 1234);
                     if (root) ::chown((own / "Dados" / "LogIntegracaoOrvo").c_str(), 1234, 1234);
                     if (root) ::chown(todaysLog(own).parent_path().c_str(), 1234, 1234);
                   }});
  // Said from what the library noted in the outbox, which the doctor only reads.
  cases.push_back({"forwarding on, the service noted offline",
                   {"--base-dir", "{base}", "--url", "{url}", "--outbox", "{own}/outbox.sqlite"},
                   {{"LUMIREX_FORWARDING", "1"}},
                   {},
                   "",
                   "",
                   [](const std::filesystem::path& own) {
                     lumirex::outbox::Outbox((own / "outbox.sqlite").string())
                         .NoteService({0, 1'800'000'000, 1'800'000'000});
                   },
                   "offline since 2027-01-1"});  // the 14th or 15th, by the time zone
  if (root) {
    // Run as root over a till's folder: the checks are the till user's, so a
    // log folder a root run left behind fails as it will for the till.
    cases.push_back({"root over a till's folder whose log folder root made",
                     ownArgs,
                     {},
                     {"log folder", "log file"},
                     "is not writable",
                     "writable for this user",
                     [&](const std::filesystem::path& own) {
                       todaysLog(own);
                       ::chown(own.c_str(), 1234, 1234);
                     },
                     "uid 1234, the owner of the base folder"});
  }

  std::error_code error;
  for (const Broken& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path own = dir.path() / "own";
    std::filesystem::remove_all(own);
    if (c.setUp) {
      std::filesystem::create_directories(own);
      c.setUp(own);
    }
    std::vector<std::string> args = {"doctor", "--json"};
    for (const auto& arg : c.args) args.push_back(Filled(arg, values));
    EnvChanges env;
    for (const auto& [name, value] : c.env) env[name] = Filled(*value, values);
    const auto run = RunCli(args, env);
    service.SetFaults({});
    ASSERT_EQ(run.status, c.failed.empty() ? 0 : 1) << run.out << run.err;
    const json out = json::parse(run.out);
    EXPECT_EQ(out["ok"], c.failed.empty());
    std::set<std::string> failed;
    bool named = c.failed.empty();
    for (const auto& check : out["checks"]) {
      if (check["ok"]) continue;
      failed.insert(check["name"]);
      const std::string detail = check["detail"];
      const std::string fix = check["fix"];
      if (detail.find(Filled(c.detail, values)) != std::string::npos) {
        named = fix.find(c.fix) != std::string::npos;
      }
    }
    EXPECT_EQ(failed, c.failed) << run.out;
    EXPECT_TRUE(named) << run.out;
    EXPECT_EQ(run.out.find("s3cret-pw"), std::string::npos) << run.out;
    if (!c.detailOk.empty()) EXPECT_NE(run.out.find(c.detailOk), std::string::npos) << run.out;
    std::filesystem::permissions(own, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
  }

  // The doctor looked without creating: no database file, and it asked the
  // service nothing but customer queries.
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "srv"));
  for (const auto& request : service.Journal()) EXPECT_EQ(request.method, "GET") << request.path;
}

}  // namespace
