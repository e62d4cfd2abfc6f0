#include "cli/doctor/command.hpp"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/database_option.hpp"
#include "cli/display_text.hpp"
#include "cli/doctor/checks.hpp"
#include "cli/host_encoding.hpp"
#include "lumirex/lumirex.hpp"
#include "support/path_text.hpp"

namespace lumirex::cli {

namespace {

using doctor::CheckResult;
using doctor::DoctorSettings;
using doctor::Results;
using doctor::Setting;

constexpr std::size_t kNameWidth = 22;

std::optional<Setting> Optional(const std::optional<std::string>& given, const char* option,
                                const char* variable) {
  Setting setting = Setting::Resolve(given, option, variable, "");
  if (setting.value.empty()) return std::nullopt;
  return setting;
}

// Resolves each setting as the library does (the host's, else the
// environment's, else the default) and hands them to the library, so the
// checks and the customer query see what a till's calls will see.
DoctorSettings Apply(const DoctorOptions& options) {
  PathsAsUtf8 paths;  // the folders and files below are the command's UTF-8
  DoctorSettings settings;
  settings.baseDir = Setting::Resolve(options.baseDir, "--base-dir", "LUMIREX_BASE_DIR",
                                      PathText(std::filesystem::current_path()));
  std::filesystem::path base =
      std::filesystem::absolute(FileSystemPath(settings.baseDir.value)).lexically_normal();
  // "/opt/pdv/" and "C:\\PDV\\" name the folder, not an empty name inside it.
  if (!base.has_filename() && base.has_relative_path()) base = base.parent_path();
  settings.baseDir.value = PathText(base);
  SetBaseDir(settings.baseDir.value);
  std::optional<std::string> database = options.database;
  if (database) *database = ConnectionFromOption(*database);  // a bare path, as the calls take it
  settings.database = Setting::Resolve(database, "--db", "LUMIREX_DB", "");
  SetConnectionString(database);
  settings.database.value = ConnectionString();
  settings.caFile = Optional(options.caFile, "--ca-file", "LUMIREX_CA_FILE");
  SetCaFile(options.caFile);
  settings.url = Optional(options.url, "--url", "LUMIREX_URL");
  settings.outbox = Optional(options.outbox, "--outbox", "LUMIREX_OUTBOX");
  settings.cpf = options.cpf;
  return settings;
}

Results RunChecks(const DoctorSettings& settings) {
  Results all{doctor::RunAsTillUser(settings)};
  for (auto check : {doctor::CheckFolders, doctor::CheckDatabase, doctor::CheckOdbc,
                     doctor::CheckService, doctor::CheckOutbox, doctor::CheckForwarding}) {
    Results results = check(settings);
    all.insert(all.end(), results.begin(), results.end());
  }
  doctor::HideSecrets(all, settings);
  return all;
}

bool AllPassed(const Results& results) {
  for (const auto& result : results) {
    if (!result.ok) return false;
  }
  return true;
}

void PrintText(const Results& results, std::ostream& out) {
  std::size_t failed = 0;
  for (const auto& result : results) {
    out << (result.ok ? "✓ " : "✗ ") << PadRight(result.name, kNameWidth) << ' ' << result.detail
        << '\n';
    if (!result.ok) {
      ++failed;
      if (!result.fix.empty())
        out << "  " << std::string(kNameWidth, ' ') << " → " << result.fix << '\n';
    }
  }
  if (failed == 0) {
    out << "All " << results.size() << " checks passed.\n";
  } else {
    out << failed << " of " << results.size() << " checks failed.\n";
  }
}

nlohmann::ordered_json ToJson(const Results& results) {
  nlohmann::ordered_json checks = nlohmann::ordered_json::array();
  for (const auto& result : results) {
    nlohmann::ordered_json check = {
        {"name", result.name}, {"ok", result.ok}, {"detail", result.detail}};
    if (!result.ok) check["fix"] = result.fix;
    checks.push_back(std::move(check));
  }
  return {{"ok", AllPassed(results)}, {"checks", std::move(checks)}};
}

}  // namespace

CLI::App* AddDoctorSubcommand(CLI::App& app, DoctorOptions& options) {
  CLI::App* sub = app.add_subcommand(
      "doctor",
      "Check a till's set-up the way the library will use it: the base and log folders,\n"
      "the point-of-sale database, the ODBC driver, the service; one line a check,\n"
      "exit 0 when all pass, 1 when any fails. Nothing is written to the log or the\n"
      "database, and no sale is ever reported");
  sub->footer(
      "Example:\n  lumirex doctor --base-dir /opt/pdv --url https://loyalty.example/api/ "
      "--cpf 12345678909\n"
      "With --cpf a customer query is sent through the library (and logged like any call);\n"
      "without, the service's route is tried with a query of a CPF nobody has, not logged.\n"
#ifdef _WIN32
      "Which user: run the doctor as the till's user; each folder is checked against its\n"
      "own security (its access list) for the user running the doctor.");
#else
      "Which user: run the doctor as the till's user. Run as root, it takes on the user\n"
      "who owns the base folder (the first check names them) and checks as that user, as\n"
      "the till will be. Any lumirex command or timer run as root under a till's base\n"
      "folder gives the log folders and files, and the outbox file, it makes there the\n"
      "owner and group of the folder they are made in.");
#endif
  sub->add_option("--base-dir", options.baseDir,
                  "Base folder (default: $LUMIREX_BASE_DIR, else the current folder)");
  sub->add_option("--db", options.database,
                  "Point-of-sale database: sqlite3://db=FILE, odbc://ODBC-STRING or a SQLite file\n"
                  "(default: $LUMIREX_DB, else BASE/Dados/pos.sqlite read-only)");
  sub->add_option("--url", options.url, "Base URL of the loyalty service (default: $LUMIREX_URL)");
  sub->add_option("--ca-file", options.caFile,
                  "PEM file of the authority that signs the service's certificate\n"
                  "(default: $LUMIREX_CA_FILE, else the system's CA store)");
  sub->add_option("--cpf", options.cpf, "Send a customer query for this CPF");
  sub->add_option("--outbox", options.outbox,
                  "The outbox file of the till (default: $LUMIREX_OUTBOX, else none)");
  sub->add_flag("--json", options.json,
                "Print {\"ok\": ..., \"checks\": [{\"name\", \"ok\", \"detail\", \"fix\"}]}");
  return sub;
}

int RunDoctor(const DoctorOptions& options, std::ostream& out) {
  const Results results = RunChecks(Apply(options));
  if (options.json) {
    out << ToJson(results).dump(2) << '\n';
  } else {
    PrintText(results, out);
  }
  return AllPassed(results) ? 0 : 1;
}

}  // namespace lumirex::cli
