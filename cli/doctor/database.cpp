// The point-of-sale database, opened and read as a sale report would.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/doctor/checks.hpp"
#include "cli/doctor/connection_string.hpp"
#include "database/connection.hpp"
#include "database/odbc_session.hpp"
#include "database/query.hpp"
#include "integration/sale_queries.hpp"
#include "support/errors.hpp"
#include "support/path_text.hpp"
#include "support/text.hpp"

namespace lumirex::cli::doctor {

namespace {

using Clock = std::chrono::steady_clock;

// A sale report must have its rows well within the call's own time-out.
constexpr std::chrono::seconds kCallTimeout{10};

// A sale key no till writes: the codes are digits.
constexpr const char* kNoSale = "~doctor~";

std::string Milliseconds(Clock::duration elapsed) {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) +
         " ms";
}

std::string DefaultDatabase(const DoctorSettings& settings) {
  return "the default database " + settings.baseDir.value + "/Dados/pos.sqlite";
}

std::string SqliteFix(const DoctorSettings& settings) {
  return settings.database.Change("sqlite3://db=FILE readonly=1 naming the till's database") +
         (settings.database.from == Setting::From::Default
              ? ", or put the database at " + settings.baseDir.value + "/Dados/pos.sqlite"
              : "");
}

// A SQLite file that is not there would be created empty by an opening
// that is not read-only: say so before anything opens it.
std::optional<CheckResult> MissingSqliteFile(const DoctorSettings& settings) {
  const std::string_view options = AfterScheme(settings.database.value);
  auto file = SqliteOption(options, "db");
  if (!file) file = SqliteOption(options, "dbname");
  if (!file) {
    return CheckResult{"database file", false, "the connection string names no db=FILE",
                       SqliteFix(settings)};
  }
  if (*file == ":memory:") {
    return CheckResult{"database file", false, "an in-memory database holds no sales",
                       SqliteFix(settings)};
  }
  std::error_code error;
  const std::filesystem::path path = FileSystemPath(*file);
  if (std::filesystem::is_regular_file(path, error)) return std::nullopt;
  const std::string what =
      std::filesystem::exists(path, error) ? "which is not a file" : "which does not exist";
  const std::string detail = settings.database.from == Setting::From::Default
                                 ? DefaultDatabase(settings) + ", " + what
                                 : settings.database.PointsAt("", *file) + ", " + what;
  return CheckResult{"database file", false, detail, SqliteFix(settings)};
}

CheckResult OpenReadOnly(TADOConnection& connection, const DoctorSettings& settings) {
  connection.ConnectionString = settings.database.value;
  connection.AfterConnect = [](TADOConnection& sender) { PrepareReadOnlySession(sender); };
  const auto start = Clock::now();
  try {
    connection.Open();
  } catch (const DatabaseError& error) {
    const bool odbc = SchemeOf(settings.database.value) == DatabaseScheme::Odbc;
    return {"database opens", false, error.what(),
            odbc ? "check the data source with isql -v DSN USER PASSWORD, or " +
                       settings.database.Change("a connection string that opens")
                 : settings.database.Change("a database this user can read")};
  }
  return {
      "database opens", true,
      "read-only through " + connection.BackendName() + " in " + Milliseconds(Clock::now() - start),
      ""};
}

CheckResult DialectCheck(TADOConnection& connection) {
  std::string dbms = "SQLite";
  if (connection.BackendName() == "odbc") {
    try {
      dbms = odbc::DbmsName(connection.Session());
    } catch (const DatabaseError& error) {
      dbms = std::string("not told: ") + error.what();
    }
  }
  return {"dialect", true,
          std::string(DialectName(connection.Dialect())) + " statements (DBMS: " + dbms + ")", ""};
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// Runs a statement that returns no rows; false with the database's message.
bool Runs(TADOConnection& connection, const std::string& text, std::string* message = nullptr) {
  TADOQuery query(connection, {}, text, text, text);
  try {
    query.Open();
    return true;
  } catch (const DatabaseError& error) {
    if (message) *message = error.what();
    return false;
  }
}

CheckResult TableCheck(TADOConnection& connection, const sale_queries::TableColumns& table) {
  const std::string name = "table " + table.table;
  const std::string all =
      "SELECT " + Joined(table.columns) + " FROM " + table.table + " WHERE 1 = 0";
  if (Runs(connection, all)) {
    return {name, true, std::to_string(table.columns.size()) + " columns read are there", ""};
  }
  std::string message;
  if (!Runs(connection, "SELECT 1 FROM " + table.table + " WHERE 1 = 0", &message)) {
    return {name, false, "cannot be read: " + message,
            "create " + table.table +
                " as sql/sqlite/pos-schema.sql, sql/mssql/pos-schema.sql or "
                "sql/postgresql/pos-schema.sql do, or grant this user SELECT on it"};
  }
  std::vector<std::string> missing;
  for (const auto& column : table.columns) {
    if (!Runs(connection, "SELECT " + column + " FROM " + table.table + " WHERE 1 = 0")) {
      missing.push_back(column);
    }
  }
  return {name, false, "lacks " + Joined(missing),
          "add the missing columns to " + table.table + " (see sql/sqlite/pos-schema.sql)"};
}

// The statement a sale report runs, through the same query class, with a key
// that matches no sale.
CheckResult SaleHeaderQuery(TADOConnection& connection) {
  TADOQuery query(connection, {"P_CDFILIAL", "P_CDCAIXA", "P_NRSEQVENDA"},
                  sale_queries::kHeaderTransactSql, sale_queries::kHeaderSqlite,
                  sale_queries::kHeaderPostgreSql);
  query.Description = "the sale header query";
  for (const char* parameter : {"P_CDFILIAL", "P_CDCAIXA", "P_NRSEQVENDA"}) {
    query.SetParameter(parameter, kNoSale);
  }
  const auto start = Clock::now();
  try {
    query.Open();
  } catch (const DatabaseError& error) {
    return {"sale header query", false, error.what(),
            "the database does not run the sale query: compare its tables with "
            "sql/sqlite/pos-schema.sql"};
  }
  const auto elapsed = Clock::now() - start;
  if (elapsed > kCallTimeout) {
    return {"sale header query", false,
            "ran in " + Milliseconds(elapsed) + ", beyond the call's time-out of 10 s",
            "index VENDA and ITEMVENDA on (CDFILIAL, CDCAIXA, NRSEQVENDA)"};
  }
  return {"sale header query", true, "runs in " + Milliseconds(elapsed) + " (a key of no sale)",
          ""};
}

}  // namespace

Results CheckDatabase(const DoctorSettings& settings) {
  const std::string& connectionString = settings.database.value;
  Results results{{"connection string", true,
                   MaskPasswords(connectionString) + " (from " + settings.database.Source() + ")",
                   ""}};
  if (SchemeOf(connectionString) == DatabaseScheme::Sqlite) {
    if (auto missing = MissingSqliteFile(settings)) {
      results.push_back(*missing);
      return results;
    }
  }
  TADOConnection connection;
  results.push_back(OpenReadOnly(connection, settings));
  if (!results.back().ok) return results;
  results.push_back(DialectCheck(connection));
  for (const auto& table : sale_queries::kColumnsRead) {
    results.push_back(TableCheck(connection, table));
  }
  results.push_back(SaleHeaderQuery(connection));
  return results;
}

}  // namespace lumirex::cli::doctor
