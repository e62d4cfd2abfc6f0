// The sale and cancellation reports end to end on each kind of point-of-sale
// database: SQLite read natively, SQLite through its ODBC driver, and a
// PostgreSQL server through its ODBC driver, whose columns are read by their
// SQL types as SQL Server's are. For the same sales each must send the same
// documents.
#include <gtest/gtest.h>

#include <algorithm>
#include <pugixml.hpp>
#include <sstream>

#include "call_fixture.hpp"
#include "database/sqlite_database.hpp"
#include "sandbox/sandbox.hpp"
#include "testkit/postgres_server.hpp"

using lumirex::Variant;

namespace calltest {
namespace {

struct SaleCase {
  std::string name;
  std::string rows;  // what the case adds to the demo contents, in SQL both databases run
  std::string branch, till, sequence;
  std::string productTotal;  // the cents the document must hold
};

// 10 000 item rows over the demo's products (one missing from PRODUTO) at
// three prices, with fractional quantities, complements, discounts, surcharges
// and fees; and the product total worked out in whole thousandths, each line
// cut to the cent as the databases must do.
std::pair<std::string, std::string> LargeSale() {
  const char* products[] = {"1001", "1002", "2001", "3001", "4001", "9001"};
  const int prices[] = {333, 1150, 39900};                 // thousandths
  const int quantities[] = {1000, 3000, 500, 1333, 2750};  // thousandths
  std::string sql =
      "INSERT INTO VENDA VALUES ('0001', '005', '000001', '2024-12-31 23:59:59', "
      "'2024-12-31 00:00:00', '12345678909', NULL, 1.50);\n";
  long long cents = 0;
  for (int i = 1; i <= 10000; ++i) {
    const int price = prices[i % 3], quantity = quantities[i % 5];
    const int complement = i % 4 == 0 ? 10 : 0;
    cents += static_cast<long long>(quantity) * (price + complement) / 10000;
    sql += std::string(i % 500 == 1 ? "INSERT INTO ITEMVENDA VALUES " : ",") +
           "('0001', '005', '000001', " + std::to_string(i) + ", '" + products[i % 6] + "', " +
           std::to_string(quantity / 1000.0) + ", " + std::to_string(price / 1000.0) + ", " +
           (complement ? "0.01" : "NULL") + ", " + (i % 5 == 0 ? "0.10" : "NULL") + ", " +
           (i % 11 == 0 ? "0.05" : "NULL") + ", " + (i % 13 == 0 ? "0.02" : "NULL") + ")" +
           (i % 500 == 0 ? ";\n" : "");
  }
  return {sql, std::to_string(cents)};
}

std::vector<SaleCase> Cases() {
  const auto [largeRows, largeTotal] = LargeSale();
  return {
      // Merged items, a product at two prices, one missing from PRODUTO, null
      // discounts and cashback, accented names, a line cut to the cent.
      {"demo sale", "", "0001", "001", "000123", "15677"},
      {"cut per line, not per sum",
       "INSERT INTO VENDA VALUES ('0001', '003', '000001', '2024-03-05 10:00:00', "
       "'2024-03-05 00:00:00', NULL, NULL, NULL);\n"
       "INSERT INTO ITEMVENDA VALUES ('0001', '003', '000001', 1, '1001', 3, 0.333, NULL, NULL, "
       "NULL, NULL), ('0001', '003', '000001', 2, '1001', 3, 0.333, NULL, NULL, NULL, NULL), "
       "('0001', '003', '000001', 3, '1001', 3, 0.333, 0.001, NULL, NULL, NULL);\n",
       "0001", "003", "000001", "298"},
      {"branch missing from FILIAL",
       "INSERT INTO VENDA VALUES ('0009', '001', '000007', '2024-03-05 10:00:00', "
       "'2024-03-05 00:00:00', '12345678909', NULL, NULL);\n"
       "INSERT INTO ITEMVENDA VALUES ('0009', '001', '000007', 1, '3001', 2, 2.50, NULL, NULL, "
       "NULL, NULL);\n",
       "0009", "001", "000007", "0"},
      {"accented texts",
       "INSERT INTO FILIAL VALUES ('0002', 'Padaria São João & Cia — €');\n"
       "INSERT INTO PRODUTO VALUES ('5001', '05', 'Maçã «verde» <ü>');\n"
       "INSERT INTO VENDA VALUES ('0002', '001', '000001', '2024-03-05 10:00:00', "
       "'2024-03-05 00:00:00', NULL, 'AÇÃO', NULL);\n"
       "INSERT INTO ITEMVENDA VALUES ('0002', '001', '000001', 1, '5001', 2, 4.99, NULL, NULL, "
       "NULL, NULL);\n",
       "0002", "001", "000001", "998"},
      {"10 000 items", largeRows, "0001", "005", "000001", largeTotal},
      {"no such sale", "", "0001", "001", "999999", "0"},
  };
}

std::string AllRows(const std::vector<SaleCase>& cases) {
  std::string rows = testkit::ReadFile(testkit::SourceDir() / "sql/sqlite/pos-demo.sql");
  for (const SaleCase& c : cases) rows += c.rows;
  return rows;
}

// The document with its products sorted, as the items query has no ORDER BY
// and each database lists its groups in an order of its own.
std::string Normalized(const std::string& xml) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(xml.c_str())) << xml;
  pugi::xml_node order = doc.child("order");
  std::vector<std::string> products;
  for (pugi::xml_node product : order.children("products")) {
    std::ostringstream out;
    product.print(out, "", pugi::format_raw);
    products.push_back(out.str());
  }
  while (order.remove_child("products")) {
  }
  std::sort(products.begin(), products.end());
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  for (const std::string& product : products) out << "\n" << product;
  return out.str();
}

class SaleDatabases : public ServedCallTest {
 protected:
  // The sale and cancellation documents of every case, on a fresh data module
  // reading the database the connection string names.
  std::vector<std::string> Documents(const std::string& connection,
                                     const std::vector<SaleCase>& cases) {
    ::Finalize();
    lumirex::SetConnectionString(connection);
    std::vector<std::string> documents;
    for (const SaleCase& c : cases) {
      for (const char* operation : {"VENDA", "VENDA_CANC"}) {
        sandbox_.ClearJournal();
        std::vector<Variant> params =
            Params(operation, sandbox_.BaseUrl(), "", c.branch, c.till, c.sequence);
        Variant result = Variant::Array(2);
        const bool returned = lumirex::IntegracaoLumirex(std::move(params), 5, result);
        EXPECT_TRUE(returned) << c.name << ": " << LogTexts().back();
        const auto journal = sandbox_.Journal();
        documents.push_back(journal.size() == 1 ? Normalized(journal[0].document) : "no request");
      }
    }
    return documents;
  }

  void ExpectSameDocuments(const std::vector<std::string>& reference,
                           const std::vector<std::string>& documents,
                           const std::vector<SaleCase>& cases, const std::string& database) {
    ASSERT_EQ(documents.size(), reference.size());
    for (std::size_t i = 0; i < documents.size(); ++i) {
      EXPECT_EQ(documents[i], reference[i]) << database << ", " << cases[i / 2].name;
    }
  }
};

TEST_F(SaleDatabases, EveryDatabaseSendsTheSameDocumentsForTheSameSales) {
  const std::vector<SaleCase> cases = Cases();
  const std::string rows = AllRows(cases);

  const auto sqlite = base_.path() / "pos.sqlite";
  lumirex::testing::RunSqlite(
      sqlite, "BEGIN;" + testkit::ReadFile(testkit::SourceDir() / "sql/sqlite/pos-schema.sql") +
                  rows + "COMMIT;");
  const auto reference = Documents("sqlite3://db=" + sqlite.string(), cases);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    pugi::xml_document doc;
    doc.load_string(reference[2 * i].c_str());
    EXPECT_EQ(doc.first_element_by_path("order/orderInfo/productTotal").text().get(),
              cases[i].productTotal)
        << cases[i].name;
  }
  ExpectSameDocuments(
      reference, Documents(lumirex::testing::SqliteOdbcDriver::ConnectionString(sqlite), cases),
      cases, "SQLite through ODBC");

  if (const std::string why = testkit::PostgresServer::Unavailable(); !why.empty()) {
    GTEST_SKIP() << "PostgreSQL not compared: " << why;
  }
  const testkit::PostgresServer server;
  server.Run(testkit::ReadFile(testkit::SourceDir() / "sql/postgresql/pos-schema.sql") + rows);
  lumirex::testing::OdbcDrivers::Register();
  ExpectSameDocuments(reference, Documents("odbc://" + server.OdbcConnectionString(), cases), cases,
                      "PostgreSQL through ODBC");
}

}  // namespace
}  // namespace calltest
