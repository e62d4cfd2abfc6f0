// The typed ODBC reading that a database server such as SQL Server takes:
// each column read by its SQL type (DECIMAL, TIMESTAMP, BIGINT, VARCHAR,
// long texts, NULLs). PostgreSQL stands in for the server, reached across a
// socket through its own ODBC driver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "database/connection.hpp"
#include "database/query.hpp"
#include "database/sqlite_database.hpp"
#include "support/datetime.hpp"
#include "testkit/postgres_server.hpp"

namespace lumirex {
namespace {

struct Column {
  const char* expression;
  FieldType type;
  FieldValue value;  // as the library holds it: texts in Windows-1252
};

std::string Repeated(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

double At(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  return *EncodeDateTime(DateTimeParts{year, month, day, hour, minute, second, millisecond});
}

// The field's value through the reader of its kind: an integer by its digits,
// as a double would lose them.
void ExpectHolds(const TField& field, const FieldValue& value) {
  if (std::holds_alternative<std::monostate>(value)) {
    EXPECT_TRUE(field.IsNull());
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    EXPECT_EQ(field.AsString(), *text);
  } else if (const auto* integer = std::get_if<std::int64_t>(&value)) {
    EXPECT_EQ(field.AsString(), std::to_string(*integer));
  } else if (field.Def().type == FieldType::DateTime) {
    EXPECT_EQ(field.AsDateTime(), std::get<double>(value));
  } else {
    EXPECT_EQ(field.AsFloat(), std::get<double>(value));
  }
}

TEST(TypedReading, ServerColumnsAreReadByTheirSqlTypes) {
  if (const std::string why = testkit::PostgresServer::Unavailable(); !why.empty()) {
    GTEST_SKIP() << why;
  }
  const testkit::PostgresServer server;
  testing::OdbcDrivers::Register();

  const std::vector<Column> columns = {
      {"CAST(12.345 AS NUMERIC(15,3))", FieldType::Float, 12.345},
      {"CAST(-0.01 AS DECIMAL(15,2))", FieldType::Float, -0.01},
      {"CAST(1234567890123.45 AS NUMERIC(15,2))", FieldType::Float, 1234567890123.45},
      {"TRUNC(3 * 0.333, 2)", FieldType::Float, 0.99},
      {"TIMESTAMP '2024-03-05 14:07:09.123'", FieldType::DateTime, At(2024, 3, 5, 14, 7, 9, 123)},
      {"DATE '2024-02-29'", FieldType::DateTime, At(2024, 2, 29, 0, 0, 0, 0)},
      {"CAST(3000000000 AS BIGINT)", FieldType::LargeInt, std::int64_t{3000000000}},
      // Beyond a double's 53 bits: read as a double it would lose its last digit.
      {"CAST(-9007199254740993 AS BIGINT)", FieldType::LargeInt, std::int64_t{-9007199254740993}},
      {"CAST(-7 AS SMALLINT)", FieldType::LargeInt, std::int64_t{-7}},
      {"CAST('Pão de queijo' AS VARCHAR(60))", FieldType::String, "P\xE3o de queijo"},
      {"CAST(:P_TEXT AS VARCHAR(16))", FieldType::String, "A\xE7\x61\xED \x80"},
      {"repeat('x', 4095)", FieldType::String, std::string(4095, 'x')},
      {"repeat('x', 4096)", FieldType::String, std::string(4096, 'x')},
      {"CAST(repeat('Ação ', 1000) AS VARCHAR(6000))", FieldType::String,
       Repeated("A\xE7\xE3o ", 1000)},
      {"CAST(NULL AS NUMERIC(15,2))", FieldType::Float, std::monostate{}},
      {"CAST(NULL AS TIMESTAMP)", FieldType::DateTime, std::monostate{}},
      {"CAST(NULL AS BIGINT)", FieldType::LargeInt, std::monostate{}},
      {"CAST(NULL AS INT)", FieldType::LargeInt, std::monostate{}},
      {"CAST(NULL AS VARCHAR(10))", FieldType::String, std::monostate{}},
      {"CAST(NULL AS TEXT)", FieldType::String, std::monostate{}},
  };
  std::string select;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    select +=
        (i ? ", " : "SELECT ") + std::string(columns[i].expression) + " AS C" + std::to_string(i);
  }

  TADOConnection connection;
  connection.ConnectionString = "odbc://" + server.OdbcConnectionString();
  connection.AfterConnect = [](TADOConnection& sender) { PrepareReadOnlySession(sender); };
  TADOQuery query(connection, {"P_TEXT"}, "not run", "not run", select);
  query.SetParameter("P_TEXT", "A\xE7\x61\xED \x80");
  query.Open();
  ASSERT_EQ(connection.Dialect(), SqlDialect::PostgreSql);
  ASSERT_FALSE(query.Eof());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    SCOPED_TRACE(columns[i].expression);
    const TField field = query.FieldByName("C" + std::to_string(i));
    EXPECT_EQ(field.Def().type, columns[i].type);
    ExpectHolds(field, columns[i].value);
  }
}

}  // namespace
}  // namespace lumirex
