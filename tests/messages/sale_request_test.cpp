#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "database/connection.hpp"
#include "database/query.hpp"
#include "database/sqlite_database.hpp"
#include "integration/sale_queries.hpp"
#include "messages/order_document.hpp"
#include "messages/requests.hpp"
#include "support/scoped_settings.hpp"
#include "testkit/testkit.hpp"

namespace lumirex {
namespace {

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";

std::vector<std::string> KeyParameters() {
  return {"P_CDFILIAL", "P_CDCAIXA", "P_NRSEQVENDA"};
}

// A point-of-sale database made from the schema and the demo contents, which
// a test may add to before the library opens it read-only.
class PosDatabase {
 public:
  PosDatabase() : file_(dir_.path() / "pos.sqlite") {
    Execute(testkit::ReadFile(testkit::SourceDir() / "sql/sqlite/pos-schema.sql"));
    Execute(testkit::ReadFile(testkit::SourceDir() / "sql/sqlite/pos-demo.sql"));
  }

  void Execute(const std::string& sql) const {
    // One transaction a script keeps the set-up quick.
    testing::RunSqlite(file_, "BEGIN;" + sql + "COMMIT;");
  }

  const std::filesystem::path& file() const { return file_; }

 private:
  testkit::TempDir dir_;
  std::filesystem::path file_;
};

// The sale queries on a read-only connection, as the data module holds them.
class SaleQueries {
 public:
  explicit SaleQueries(std::string connectionString) {
    connection.ConnectionString = std::move(connectionString);
    connection.AfterConnect = [](TADOConnection& sender) { PrepareReadOnlySession(sender); };
  }

  TADOConnection connection;
  TADOQuery header{connection, KeyParameters(), sale_queries::kHeaderTransactSql,
                   sale_queries::kHeaderSqlite, sale_queries::kHeaderPostgreSql};
  TADOQuery items{connection, KeyParameters(), sale_queries::kItemsTransactSql,
                  sale_queries::kItemsSqlite, sale_queries::kItemsPostgreSql};
};

struct Request {
  std::string xml, requestStream, urlTail;
  pugi::xml_document document;  // the text read back, for looking elements up

  RequestParts Parts() { return RequestParts{requestStream, urlTail, &xml}; }
  const std::string& Xml() const { return xml; }
  std::string At(const char* path) {
    document.load_string(xml.c_str());
    return document.first_element_by_path(path).child_value();
  }
};

class SaleRequestTest : public ::testing::Test {
 protected:
  Request Sale(const SaleKey& key) {
    Request request;
    BuildSaleRequest(key, queries_.header, queries_.items, request.Parts());
    return request;
  }
  Request Cancellation(const SaleKey& key) {
    Request request;
    BuildCancellationRequest(key, queries_.header, request.Parts());
    return request;
  }

  PosDatabase db_;
  SaleQueries queries_{"sqlite3://db=" + db_.file().string() + " readonly=1"};
};

// Sale 000123 of till 001 in the demo contents. The accented names arrive as
// Windows-1252 bytes; the products come in the order of their group keys.
const std::string kKnownSale =
    "<order><customer><cpf>12345678909</cpf></customer>"
    "<unityDetails><unityId>0001</unityId><unityName>Loja Pra\xE7"
    "a da S\xE9</unityName></unityDetails>"
    "<promotion><usedPromocodeId>BEMVINDO10</usedPromocodeId></promotion>"
    "<orderInfo><orderOrigin>PDV</orderOrigin><orderId>000100105/03/2024000123</orderId>"
    "<entryDate>2024-03-05T14:07:09</entryDate><productTotal>15677</productTotal>"
    "<deliveryFee>150</deliveryFee><discount>300</discount><cashbackUsed>0</cashbackUsed>"
    "<valueToCashback>15402</valueToCashback></orderInfo>"
    "<products><idUnityItem>1001</idUnityItem><name>P\xE3o de queijo</name>"
    "<amount>2</amount><price>750</price></products>"
    "<products><idUnityItem>1002</idUnityItem><name>Caf\xE9 expresso</name>"
    "<amount>2</amount><price>590</price></products>"
    "<products><idUnityItem>1002</idUnityItem><name>Caf\xE9 expresso</name>"
    "<amount>1</amount><price>690</price></products>"
    "<products><idUnityItem>2001</idUnityItem><name>A\xE7"
    "a\xED na tigela (kg)</name><amount>2</amount><price>3990</price></products>"
    "<products><idUnityItem>4001</idUnityItem><name>Queijo minas frescal (kg)</name>"
    "<amount>0,75</amount><price>5290</price></products></order>";

TEST_F(SaleRequestTest, AKnownSaleGivesItsWholeDocument) {
  testing::ScopedDecimalSeparator separator(',');
  Request sale = Sale({"0001", "001", "000123"});

  EXPECT_EQ(sale.Xml(), kDeclaration + kKnownSale + "\r\n");
  EXPECT_EQ(sale.requestStream, RequestBodyEnvelope(sale.Xml()));
  EXPECT_EQ(sale.urlTail, "order?pdv=true");
}

// The SQLite ODBC driver hands the same columns back by other types; the
// document must not change.
TEST_F(SaleRequestTest, TheSameDocumentsComeThroughTheOdbcDriver) {
  testing::ScopedDecimalSeparator separator(',');
  SaleQueries odbc(testing::SqliteOdbcDriver::ConnectionString(db_.file()));
  Request sale, unknown, cancellation;
  BuildSaleRequest({"0001", "001", "000123"}, odbc.header, odbc.items, sale.Parts());
  BuildSaleRequest({"0001", "001", "999999"}, odbc.header, odbc.items, unknown.Parts());
  BuildCancellationRequest({"0001", "001", "000123"}, odbc.header, cancellation.Parts());

  EXPECT_EQ(odbc.connection.BackendName(), "odbc");
  EXPECT_EQ(sale.Xml(), Sale({"0001", "001", "000123"}).Xml());
  EXPECT_EQ(sale.Xml(), kDeclaration + kKnownSale + "\r\n");
  EXPECT_EQ(unknown.Xml(), Sale({"0001", "001", "999999"}).Xml());
  EXPECT_EQ(cancellation.Xml(), Cancellation({"0001", "001", "000123"}).Xml());
}

TEST_F(SaleRequestTest, AmountsFollowTheDecimalSeparator) {
  testing::ScopedDecimalSeparator separator('.');
  Request sale = Sale({"0001", "001", "000123"});
  EXPECT_NE(sale.Xml().find("<amount>0.75</amount><price>5290</price>"), std::string::npos);
}

TEST_F(SaleRequestTest, EachKeyReopensTheQueriesOnItsOwnSale) {
  Sale({"0001", "001", "000123"});
  Request other = Sale({"0001", "002", "000123"});

  EXPECT_EQ(other.At("order/customer/cpf"), "98765432100");
  EXPECT_EQ(other.At("order/promotion/usedPromocodeId"), "");
  EXPECT_EQ(other.At("order/orderInfo/orderId"), "000100205/03/2024000123");
  EXPECT_EQ(other.At("order/orderInfo/entryDate"), "2024-03-06T00:12:30");
  EXPECT_EQ(other.At("order/orderInfo/cashbackUsed"), "500");
  EXPECT_EQ(other.At("order/orderInfo/valueToCashback"), "750");
  EXPECT_EQ(other.At("order/products/name"), "\xC1gua mineral 500ml");
  EXPECT_EQ(other.At("order/products/amount"), "3");
  EXPECT_EQ(other.At("order/products/price"), "250");
  EXPECT_FALSE(other.document.child("order").child("products").next_sibling("products"));
}

TEST_F(SaleRequestTest, ACancellationSendsTheSaleIdentifierAlone) {
  Request cancellation = Cancellation({"0001", "001", "000123"});

  EXPECT_EQ(
      cancellation.Xml(),
      kDeclaration + std::string("<order><orderId>000100105/03/2024000123</orderId></order>\r\n"));
  EXPECT_EQ(cancellation.requestStream, RequestBodyEnvelope(cancellation.Xml()));
  EXPECT_EQ(cancellation.urlTail, "order/cancel?pdv=true");
  EXPECT_FALSE(queries_.items.Active());
}

// Line values are cut to the cent row by row, as SQL Server's decimal
// arithmetic does, before they are summed.
TEST_F(SaleRequestTest, LineValuesAreTruncatedToTheCentRowByRow) {
  struct Item {
    const char* quantity;
    const char* price;
    const char* complement = "NULL";
    const char* discount = "NULL";
    const char* surcharge = "NULL";
  };
  struct Case {
    const char* what;
    std::vector<Item> items;
    const char* productTotal;
    const char* valueToCashback;
  };
  const std::vector<Case> cases = {
      {"3 x 0.333 is cut, not rounded", {{"3", "0.333"}}, "099", "099"},
      {"1 x 1.15 stays 1.15", {{"1", "1.15"}}, "115", "115"},
      {"3 x 0.1 is 0.30", {{"3", "0.1"}}, "030", "030"},
      {"the complement adds to the price", {{"1", "1.00", "0.15"}}, "115", "115"},
      {"a weighed quantity", {{"0.75", "52.90"}}, "3967", "3967"},
      {"each row cut before the sum", {{"3", "0.333"}, {"3", "0.333"}}, "198", "198"},
      {"discount and surcharge count in the value to cashback only",
       {{"1", "1.15", "NULL", "0.15", "0.05"}},
       "115",
       "105"},
      {"a value to cashback below zero", {{"1", "0.01", "NULL", "0.02"}}, "001", "0"},
  };
  std::string sql;
  for (std::size_t index = 0; index < cases.size(); ++index) {
    const Case& each = cases[index];
    std::string sequence = "T" + std::to_string(index);
    sql += "INSERT INTO VENDA VALUES ('0001', '009', '" + sequence +
           "', '2024-03-05 10:00:00', '2024-03-05 00:00:00', '12345678909', NULL, NULL);";
    for (std::size_t row = 0; row < each.items.size(); ++row) {
      const Item& item = each.items[row];
      sql += "INSERT INTO ITEMVENDA VALUES ('0001', '009', '" + sequence + "', " +
             std::to_string(row + 1) + ", '1001', " + item.quantity + ", " + item.price + ", " +
             item.complement + ", " + item.discount + ", " + item.surcharge + ", NULL);";
    }
  }
  db_.Execute(sql);
  for (std::size_t index = 0; index < cases.size(); ++index) {
    const Case& each = cases[index];
    SCOPED_TRACE(each.what);
    Request sale = Sale({"0001", "009", "T" + std::to_string(index)});
    EXPECT_EQ(sale.At("order/orderInfo/productTotal"), each.productTotal);
    EXPECT_EQ(sale.At("order/orderInfo/valueToCashback"), each.valueToCashback);
  }
}

constexpr char kEmptyHeader[] =
    "<order><customer><cpf/></customer><unityDetails><unityId/><unityName/></unityDetails>"
    "<promotion><usedPromocodeId/></promotion><orderInfo><orderOrigin>PDV</orderOrigin>"
    "<orderId/><entryDate>1899-12-30T00:00:00</entryDate><productTotal>0</productTotal>"
    "<deliveryFee>0</deliveryFee><discount>0</discount><cashbackUsed>0</cashbackUsed>"
    "<valueToCashback>0</valueToCashback></orderInfo>";

// Nothing checks that the sale exists: the document is built from empty
// values and the service decides.
TEST_F(SaleRequestTest, AKeyWithoutASaleRowStillBuildsBothDocuments) {
  db_.Execute(
      "INSERT INTO VENDA VALUES ('0001', '001', '000200', '2024-03-05 10:00:00', "
      "'2024-03-05 00:00:00', '12345678909', NULL, NULL);");
  const SaleKey keys[] = {{"0001", "001", "999999"}, {"0001", "001", "000200"}, {"", "", ""}};
  for (const SaleKey& key : keys) {
    SCOPED_TRACE(key.sequence);
    Request sale = Sale(key);
    EXPECT_EQ(sale.Xml(), kDeclaration + std::string(kEmptyHeader) + "</order>\r\n");
    EXPECT_EQ(sale.requestStream, RequestBodyEnvelope(sale.Xml()));
    Request cancellation = Cancellation(key);
    EXPECT_EQ(cancellation.Xml(), kDeclaration + std::string("<order><orderId/></order>\r\n"));
  }
}

TEST_F(SaleRequestTest, ASaleOfABranchMissingFromFilialStillListsItsProducts) {
  db_.Execute(
      "INSERT INTO VENDA VALUES ('0099', '001', '000001', '2024-03-05 10:00:00', "
      "'2024-03-05 00:00:00', '12345678909', NULL, NULL);"
      "INSERT INTO ITEMVENDA VALUES ('0099', '001', '000001', 1, '1002', 1, 6.90, NULL, NULL, "
      "NULL, NULL);");
  Request sale = Sale({"0099", "001", "000001"});
  EXPECT_EQ(sale.Xml(), kDeclaration + std::string(kEmptyHeader) +
                            "<products><idUnityItem>1002</idUnityItem><name>Caf\xE9 expresso"
                            "</name><amount>1</amount><price>690</price></products></order>\r\n");
}

TEST_F(SaleRequestTest, AnOverlongKeyPartFailsBeforeAnythingIsSent) {
  for (const SaleKey& key : {SaleKey{"00010000000000001", "001", "000123"},
                             SaleKey{"0001", "001", std::string(17, '9')}}) {
    Request sale;
    EXPECT_ANY_THROW(BuildSaleRequest(key, queries_.header, queries_.items, sale.Parts()));
    EXPECT_EQ(sale.requestStream, "");
    EXPECT_EQ(sale.urlTail, "");
  }
}

}  // namespace
}  // namespace lumirex
