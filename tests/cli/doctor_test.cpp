// `lumirex doctor` against a till set up right and set up wrong in the ways
// support meets most: each broken set-up fails exactly the checks it should,
// naming the setting to change, and the sound one passes with exit status 0.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "cli/pos_database.hpp"
#include "cli_process.hpp"
#include "sandbox/sandbox.hpp"
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
  lumirex::sandbox::Sandbox stopped;
  stopped.Start(0);
  const std::string downUrl = stopped.BaseUrl();
  stopped.Stop();
  const std::map<std::string, std::string> values = {{"{base}", base.string()},
                                                     {"{dir}", dir.str()},
                                                     {"{url}", service.BaseUrl()},
                                                     {"{down}", downUrl}};

  const std::vector<Broken> cases = {
      {"sound", {"--base-dir", "{base}", "--url", "{url}", "--cpf", "12345678909"}, {}, {}, "", ""},
      {"missing database",
       {"--base-dir", "{base}", "--url", "{url}"},
       {{"LUMIREX_DB", "sqlite3://db={dir}/srv/pos.sqlite"}},
       {"database file"},
       "LUMIREX_DB points at {dir}/srv/pos.sqlite, which does not exist",
       "set LUMIREX_DB to"},
      {"base folder is a file",
       {"--url", "{url}", "--db", "sqlite3://db={base}/Dados/pos.sqlite"},
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

  for (const Broken& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"doctor", "--json"};
    for (const auto& arg : c.args) args.push_back(Filled(arg, values));
    EnvChanges env;
    for (const auto& [name, value] : c.env) env[name] = Filled(*value, values);
    const auto run = RunCli(args, env);
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
  }

  // The doctor looked without creating: no database file, and the sound
  // run's customer query is the only request the service saw.
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "srv"));
  EXPECT_EQ(service.Journal().size(), 1u);
}

}  // namespace
