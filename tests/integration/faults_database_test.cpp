// Faults of the point-of-sale database, each through the C ABI: the sale
// reports fail before anything is sent, customer queries go on, and the first
// sale report after the fault clears goes through.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>

#include "database/sqlite_database.hpp"
#include "end_to_end.hpp"
#include "integration/data_module.hpp"

using ::testing::HasSubstr;

namespace calltest {
namespace {

class DatabaseFaults : public EndToEnd {
 protected:
  // A sale report and its cancellation fail on the database: the log stops
  // after INICIO, nothing reaches the service, the customer query still works.
  void ExpectSaleReportsFail(const std::string& reason) {
    sandbox_.ClearJournal();
    for (const std::string operation : {"VENDA", "VENDA_CANC"}) {
      SCOPED_TRACE(operation);
      ExpectFailure(Call(Sale(operation)), "INICIO", reason);
    }
    EXPECT_TRUE(sandbox_.Journal().empty());
    ExpectAccepted(Consulta());
  }

  // The fault has cleared: the sale is reported and its report cancelled.
  void ExpectSaleReportsGoThrough() {
    ExpectAccepted(Sale("VENDA"));
    ExpectAccepted(Sale("VENDA_CANC"));
  }

  // Puts a fresh demo database in place of the one the library has open, as
  // a restore from a backup does: written aside, then renamed over it.
  void ReplaceDatabase() {
    const auto fresh = database_.parent_path() / "fresh.sqlite";
    CreateDemoDatabase(fresh);
    std::filesystem::rename(fresh, database_);
  }
};

TEST_F(DatabaseFaults, MissingFile) {
  std::filesystem::remove(database_);
  ExpectSaleReportsFail("cannot open the point-of-sale database 'sqlite3://db=" +
                        database_.string());
  EXPECT_FALSE(std::filesystem::exists(database_));  // read-only: never created
  CreateDemoDatabase(database_);
  ExpectSaleReportsGoThrough();
}

// A host that points the library at another database between two sale
// reports gets the new one at the next report, not at the next Finalize.
TEST_F(DatabaseFaults, ChangedConnectionStringTakesEffectAtTheNextReport) {
  ExpectAccepted(Sale("VENDA"));
  const auto other = database_.parent_path() / "other.sqlite";
  CreateDemoDatabase(other);
  lumirex::testing::RunSqlite(other, "UPDATE FILIAL SET NMFILIAL = 'Filial Nova';");
  LumirexSetConnectionString(("sqlite3://db=" + other.string()).c_str());
  sandbox_.ClearJournal();
  ExpectAccepted(Sale("VENDA_CANC"));
  ExpectAccepted(Sale("VENDA"));
  LumirexSetConnectionString(nullptr);
  EXPECT_THAT(sandbox_.Journal().back().document, HasSubstr("<unityName>Filial Nova</unityName>"));
}

TEST_F(DatabaseFaults, FileThatIsNotADatabase) {
  testkit::WriteFile(database_, std::string(4096, 'x'));
  ExpectSaleReportsFail("file is not a database");
  ReplaceDatabase();
  ExpectSaleReportsGoThrough();
}

TEST_F(DatabaseFaults, TablesMissing) {
  std::filesystem::remove(database_);
  lumirex::testing::RunSqlite(database_, "CREATE TABLE OTHER (X TEXT);");
  ExpectSaleReportsFail("no such table");
  // Created on the same file the library has open.
  lumirex::testing::RunSqlite(
      database_, testkit::ReadFile(testkit::SourceDir() / "sql/sqlite/pos-schema.sql") +
                     testkit::ReadFile(testkit::SourceDir() / "sql/sqlite/pos-demo.sql"));
  ExpectSaleReportsGoThrough();
}

// XML cannot carry a NUL byte: a text holding one is refused before anything
// is sent, naming the column and the sale, rather than cut short at it.
TEST_F(DatabaseFaults, TextHoldingANulByte) {
  lumirex::testing::RunSqlite(database_,
                              "UPDATE FILIAL SET NMFILIAL = CAST(X'50C3FF004166696D' AS TEXT);");
  ExpectSaleReportsFail(kBranch + "/" + kTill + "/" + kSequence +
                        ": the sale header query: the column NMFILIAL holds a NUL byte");
}

TEST_F(DatabaseFaults, LockedByAWriter) {
  ExpectSaleReportsGoThrough();  // the connection is open before the writer comes
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(database_.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN EXCLUSIVE; UPDATE FILIAL SET NMFILIAL = NMFILIAL;", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  ExpectSaleReportsFail("database is locked");
  ASSERT_EQ(sqlite3_exec(writer, "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(writer);
  ExpectSaleReportsGoThrough();
}

// Between two calls the database the connection holds goes away: the host
// closed it, or the file was emptied and a restored copy put in its place.
TEST_F(DatabaseFaults, ConnectionLostBetweenTwoCallsIsMadeAgain) {
  const std::vector<std::pair<const char*, std::function<void()>>> losses = {
      {"closed", [] { lumirex::rdmIntegraLumirex->adcIntegraLumirex.Close(); }},
      {"replaced",
       [this] {
         std::filesystem::resize_file(database_, 0);
         ReplaceDatabase();
       }},
  };
  for (const auto& [name, lose] : losses) {
    SCOPED_TRACE(name);
    ExpectSaleReportsGoThrough();
    ASSERT_TRUE(lumirex::rdmIntegraLumirex->adcIntegraLumirex.Connected());
    lose();
    ExpectSaleReportsGoThrough();
    EXPECT_TRUE(lumirex::rdmIntegraLumirex->adcIntegraLumirex.Connected());
  }
}

}  // namespace
}  // namespace calltest
