#include "database/query.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "database/sqlite_database.hpp"
#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "testkit/testkit.hpp"

namespace lumirex {
namespace {

using ::testing::HasSubstr;

// Texts are UTF-8 in the file, as SQLite keeps them.
constexpr const char* kItems = R"sql(
CREATE TABLE ITEM (
  CODE    TEXT PRIMARY KEY,
  NAME    TEXT,
  PRICE   NUMERIC(15,3),
  QTY     NUMERIC(15,3),
  SOLD    DATETIME,
  COUNTER INTEGER
);
INSERT INTO ITEM VALUES ('1001', 'PÃO DE QUEIJO', 12.5, 2, '2024-03-05 14:07:09', 12345678909);
INSERT INTO ITEM VALUES ('AÇÚCAR', 'Açúcar refinado', 4, 1.5, '2024-03-06', 7);
INSERT INTO ITEM VALUES ('0099', NULL, NULL, NULL, NULL, NULL);
)sql";

// The statement the other dialect would run is not SQLite at all, so a
// result proves that the session settled on the SQLite texts.
constexpr const char* kNotSqlite = "SELECT ISNULL(NAME, '') FROM ITEM WHERE CODE = :P_CODE";

double At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return *EncodeDateTime(DateTimeParts{year, month, day, hour, minute, second, 0});
}

class QueryTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    testing::RunSqlite(file_, kItems);
    connection_.BeforeConnect = [this](TADOConnection& sender) {
      ++openings_;
      sender.ConnectionString = ConnectionString();
    };
    connection_.AfterConnect = [](TADOConnection& sender) { PrepareReadOnlySession(sender); };
  }

  std::string ConnectionString() const {
    return GetParam() ? testing::SqliteOdbcDriver::ConnectionString(file_)
                      : "sqlite3://db=" + file_.string() + " readonly=1";
  }

  TADOQuery Query(const std::string& sqliteText) {
    return TADOQuery(connection_, {"P_CODE"}, kNotSqlite, sqliteText, kNotSqlite);
  }

  // The query by code, opened for that code.
  TADOQuery& ByCode(const std::string& code) {
    query_.Close();
    query_.SetParameter("P_CODE", code);
    query_.Open();
    return query_;
  }

  testkit::TempDir dir_;
  std::filesystem::path file_ = dir_.path() / "pos.sqlite";
  TADOConnection connection_;
  int openings_ = 0;
  TADOQuery query_ =
      Query("SELECT CODE, NAME, PRICE, QTY, SOLD, COUNTER FROM ITEM WHERE CODE = :P_CODE");
};

TEST_P(QueryTest, ReadsTextsNumbersAndDateTimesInWindows1252) {
  TADOQuery& query = ByCode("1001");
  ASSERT_FALSE(query.Eof());
  EXPECT_EQ(query.FieldByName("NAME").AsString(), "P\xC3O DE QUEIJO");
  EXPECT_EQ(query.FieldByName("PRICE").AsFloat(), 12.5);
  EXPECT_EQ(query.FieldByName("PRICE").AsString(), "12,5");
  EXPECT_EQ(query.FieldByName("QTY").AsString(), "2");
  EXPECT_EQ(query.FieldByName("SOLD").AsDateTime(), At(2024, 3, 5, 14, 7, 9));
  // Beyond 32 bits, as SQLite's integers are.
  EXPECT_EQ(query.FieldByName("COUNTER").AsString(), "12345678909");
  query.Next();
  EXPECT_TRUE(query.Eof());
}

TEST_P(QueryTest, AWindows1252ParameterMatchesTheUtf8Key) {
  TADOQuery& query = ByCode(
      "A\xC7\xDA"
      "CAR");
  ASSERT_FALSE(query.Eof());
  EXPECT_EQ(query.FieldByName("CODE").AsString(),
            "A\xC7\xDA"
            "CAR");
  EXPECT_EQ(query.FieldByName("NAME").AsString(),
            "A\xE7\xFA"
            "car refinado");
  EXPECT_EQ(query.FieldByName("QTY").AsString(), "1,5");
  EXPECT_EQ(query.FieldByName("SOLD").AsDateTime(), At(2024, 3, 6));
}

TEST_P(QueryTest, NullsAndNoRowReadAsEmptyZeroAndTheZeroDateTime) {
  const std::vector<std::string> codes = {"0099", "no such code"};
  for (const std::string& code : codes) {
    SCOPED_TRACE(code);
    TADOQuery& query = ByCode(code);
    EXPECT_EQ(query.Eof(), code != "0099");
    for (const char* name : {"NAME", "PRICE", "SOLD", "COUNTER"}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(query.FieldByName(name).AsString(), "");
      EXPECT_EQ(query.FieldByName(name).AsFloat(), 0);
      EXPECT_EQ(query.FieldByName(name).AsDateTime(), 0);
    }
  }
}

TEST_P(QueryTest, AParameterIsNullUntilSet) {
  TADOQuery query = Query("SELECT COUNT(*) AS N FROM ITEM WHERE :P_CODE IS NULL");
  query.Open();
  EXPECT_EQ(query.FieldByName("N").AsFloat(), 3);
  query.Close();
  query.SetParameter("P_CODE", "");
  query.Open();
  EXPECT_EQ(query.FieldByName("N").AsFloat(), 0);
}

TEST_P(QueryTest, ExpressionColumnsKeepTheirValues) {
  // The first row's total is whole and the next one's is not, and the null
  // total comes last: the SQLite ODBC driver guesses a column's type from
  // the first row alone.
  TADOQuery query = Query(
      "SELECT SUM(QTY) AS TOTAL, CODE || '-' || CODE AS PAIR, printf('%.*c', 5000, 'x') AS LONG"
      "  FROM ITEM GROUP BY CODE ORDER BY MAX(PRICE) DESC");
  query.Open();
  const std::vector<std::string> totals = {"2", "1,5", ""};
  const std::vector<std::string> pairs = {"1001-1001",
                                          "A\xC7\xDA"
                                          "CAR-A\xC7\xDA"
                                          "CAR",
                                          "0099-0099"};
  for (std::size_t row = 0; row < totals.size(); ++row) {
    SCOPED_TRACE(row);
    ASSERT_FALSE(query.Eof());
    EXPECT_EQ(query.FieldByName("TOTAL").AsString(), totals[row]);
    EXPECT_EQ(query.FieldByName("PAIR").AsString(), pairs[row]);
    EXPECT_EQ(query.FieldByName("LONG").AsString(), std::string(5000, 'x'));
    query.Next();
  }
  EXPECT_TRUE(query.Eof());
}

TEST_P(QueryTest, RepeatedColumnNamesGetASuffix) {
  TADOQuery query = Query("SELECT CODE, NAME AS CODE FROM ITEM WHERE CODE = :P_CODE");
  query.SetParameter("P_CODE", "1001");
  query.Open();
  EXPECT_EQ(query.FieldByName("CODE").AsString(), "1001");
  EXPECT_EQ(query.FieldByName("CODE_1").AsString(), "P\xC3O DE QUEIJO");
}

TEST_P(QueryTest, AFieldThatIsNotThereRaisesNamingIt) {
  TADOQuery& query = ByCode("1001");
  try {
    query.FieldByName("NMPRODUTO");
    FAIL() << "no error";
  } catch (const DatabaseError& error) {
    EXPECT_THAT(error.what(), HasSubstr("NMPRODUTO"));
  }
}

TEST_P(QueryTest, ParametersAreLookedUpByNameAndNeverCut) {
  TADOQuery query = Query("SELECT CODE FROM ITEM WHERE CODE = :P_CODE");
  query.SetParameter("p_code", std::string(16, '9'));
  EXPECT_EQ(query.Parameters()[0].value, std::string(16, '9'));
  try {
    query.SetParameter("P_CODE", std::string(17, '9'));
    FAIL() << "no error";
  } catch (const ConversionError& error) {
    EXPECT_STREQ(error.what(), "parameter P_CODE takes at most 16 characters");
  }
  EXPECT_EQ(query.Parameters()[0].value, std::string(16, '9'));
  EXPECT_THROW(query.SetParameter("P_CDCAIXA", "1"), DatabaseError);
}

TEST_P(QueryTest, OpeningOnAClosedConnectionConnectsOnce) {
  EXPECT_FALSE(connection_.Connected());
  ByCode("1001");
  EXPECT_TRUE(connection_.Connected());
  ByCode("0099");
  EXPECT_EQ(openings_, 1);
  connection_.Close();
  ByCode("1001");
  EXPECT_EQ(openings_, 2);
  EXPECT_EQ(query_.FieldByName("QTY").AsFloat(), 2);
}

// The statement is prepared once per connection and run again with each new
// value, a longer one among them; a reconnection prepares it afresh.
TEST_P(QueryTest, TheStatementIsPreparedOncePerConnection) {
  const std::pair<std::string, std::string> rounds[] = {{"1001", "1001"},
                                                        {"A\xC7\xDA"
                                                         "CAR",
                                                         "A\xC7\xDA"
                                                         "CAR"},
                                                        {"no such code", ""},
                                                        {"0099", "0099"}};
  for (const auto& [code, found] : rounds) {
    EXPECT_EQ(ByCode(code).FieldByName("CODE").AsString(), found);
  }
  EXPECT_EQ(connection_.StatementsPrepared(), 1u);

  connection_.Close();
  EXPECT_EQ(ByCode("1001").FieldByName("QTY").AsFloat(), 2);
  EXPECT_EQ(connection_.StatementsPrepared(), 2u);
}

TEST_P(QueryTest, DatabaseFailuresRaiseTheDatabasesMessage) {
  TADOQuery query = Query("SELECT X FROM NO_SUCH_TABLE");
  EXPECT_THROW(
      {
        try {
          query.Open();
        } catch (const DatabaseError& error) {
          EXPECT_THAT(error.what(), HasSubstr("no such table"));
          throw;
        }
      },
      DatabaseError);
  EXPECT_FALSE(query.Active());
}

// A kept connection whose database went away under it (emptied, then a
// restored copy put in its place) is made again once; a statement that fails
// on a fresh connection is not run twice.
TEST_P(QueryTest, AFailureOnAKeptConnectionConnectsOnceMoreAndRunsAgain) {
  EXPECT_EQ(ByCode("1001").FieldByName("CODE").AsString(), "1001");
  std::filesystem::resize_file(file_, 0);
  const auto restored = file_.parent_path() / "restored.sqlite";
  testing::RunSqlite(restored, kItems);
  std::filesystem::rename(restored, file_);
  EXPECT_EQ(ByCode("1001").FieldByName("CODE").AsString(), "1001");
  EXPECT_EQ(openings_, 2);

  connection_.Close();
  TADOQuery broken = Query("SELECT X FROM NO_SUCH_TABLE");
  EXPECT_THROW(broken.Open(), DatabaseError);
  EXPECT_EQ(openings_, 3);
  EXPECT_THROW(broken.Open(), DatabaseError);  // kept this time: tried on a fresh one too
  EXPECT_EQ(openings_, 4);
  EXPECT_TRUE(connection_.Connected());
}

INSTANTIATE_TEST_SUITE_P(Backends, QueryTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Odbc" : "Native"; });

// The embedded database is opened read-only, so a missing file stays missing
// (the ODBC driver would create it).
using NativeQueryTest = QueryTest;

TEST_P(NativeQueryTest, AMissingDatabaseFailsEachOpeningUntilItIsThere) {
  std::filesystem::remove(file_);
  try {
    ByCode("1001");
    FAIL() << "no error";
  } catch (const DatabaseError& error) {
    EXPECT_THAT(error.what(), HasSubstr("unable to open database file"));
  }
  EXPECT_FALSE(connection_.Connected());
  EXPECT_FALSE(std::filesystem::exists(file_));
  testing::RunSqlite(file_, kItems);
  EXPECT_EQ(ByCode("1001").FieldByName("CODE").AsString(), "1001");
  EXPECT_EQ(openings_, 2);
}

// A file swapped for a copy (a restore, new prices) is read from the copy,
// though the kept session still holds the old file open.
TEST_P(NativeQueryTest, AFileReplacedUnderAKeptConnectionIsReadAnew) {
  EXPECT_EQ(ByCode("1001").FieldByName("PRICE").AsFloat(), 12.5);
  const auto copy = file_.parent_path() / "copy.sqlite";
  testing::RunSqlite(copy, std::string(kItems) + "UPDATE ITEM SET PRICE = PRICE * 2;");
  std::filesystem::rename(copy, file_);
  EXPECT_EQ(ByCode("1001").FieldByName("PRICE").AsFloat(), 25);
  EXPECT_EQ(openings_, 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, NativeQueryTest, ::testing::Values(false),
                         [](const auto&) { return "Native"; });

// Another DBMS behind ODBC: values come by their SQL types and texts as the
// driver gives them. The SQLite driver stands in for it here.
using OdbcQueryTest = QueryTest;

TEST_P(OdbcQueryTest, AnotherDbmsIsReadByItsSqlTypesWithTextsAsTheyAre) {
  connection_.Open();
  connection_.SetDialect(SqlDialect::TransactSql);
  TADOQuery query(connection_, {"P_CODE"},
                  "SELECT CODE, NAME, PRICE, QTY, SOLD, COUNTER FROM ITEM WHERE CODE = :P_CODE",
                  "not run", "not run");
  const std::vector<std::string> codes = {"1001", "0099"};
  for (const std::string& code : codes) {
    SCOPED_TRACE(code);
    query.Close();
    query.SetParameter("P_CODE", code);
    query.Open();
    ASSERT_FALSE(query.Eof());
    const bool nulls = code == "0099";
    EXPECT_EQ(query.FieldByName("NAME").AsString(), nulls ? "" : "P\xC3\x83O DE QUEIJO");
    EXPECT_EQ(query.FieldByName("PRICE").AsFloat(), nulls ? 0 : 12.5);
    EXPECT_EQ(query.FieldByName("SOLD").AsDateTime(), nulls ? 0 : At(2024, 3, 5, 14, 7, 9));
    EXPECT_EQ(query.FieldByName("COUNTER").AsString(), nulls ? "" : "12345678909");
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, OdbcQueryTest, ::testing::Values(true),
                         [](const auto&) { return "Odbc"; });

}  // namespace
}  // namespace lumirex
