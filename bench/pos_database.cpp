#include "pos_database.hpp"

#include <sqlite3.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace lumirex::bench {

namespace {

std::string ReadSql(const char* name) {
  const auto path = std::filesystem::path(LUMIREX_SOURCE_DIR) / "sql" / "sqlite" / name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Twenty products, each rung up once, some with a discount or a surcharge.
std::string TwentyItemSale() {
  std::ostringstream sql;
  sql << "INSERT INTO VENDA VALUES ('" << kSaleBranch << "','" << kSaleTill << "','"
      << kSaleSequence
      << "','2024-03-07 12:30:00','2024-03-07 00:00:00','12345678909','BEMVINDO10',1.50);\n";
  for (int i = 1; i <= kSaleItems; ++i) {
    const std::string product = std::to_string(7000 + i);
    sql << "INSERT INTO PRODUTO VALUES ('" << product << "','07','Produto de teste " << i
        << "');\n";
    sql << "INSERT INTO ITEMVENDA VALUES ('" << kSaleBranch << "','" << kSaleTill << "','"
        << kSaleSequence << "'," << i << ",'" << product << "'," << (i % 3 + 1) << ","
        << (i * 1.25 + 0.99) << ",NULL," << (i % 5 == 0 ? "0.50" : "NULL") << ","
        << (i % 7 == 0 ? "0.25" : "NULL") << ",NULL);\n";
  }
  return sql.str();
}

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};

// Runs the script in one transaction on a new file.
void CreateDatabase(const std::filesystem::path& file, const std::string& script) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open(file.c_str(), &raw);
  std::unique_ptr<sqlite3, CloseDatabase> db(raw);
  if (opened != SQLITE_OK) throw std::runtime_error("cannot create " + file.string());
  const std::string all =
      "BEGIN;" + ReadSql("pos-schema.sql") + ReadSql("pos-demo.sql") + script + "COMMIT;";
  char* error = nullptr;
  if (sqlite3_exec(db.get(), all.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error("cannot fill " + file.string() + ": " + message);
  }
}

// Copies of the demo sale of till 001 (sequence 000123) for `till`, one
// for each sequence from 000001 to `sales`.
std::string DemoSaleCopies(const std::string& till, int sales) {
  const auto copy = [&](const char* table, const char* columns) {
    return std::string("INSERT INTO ") + table +
           " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
           std::to_string(sales) + ") SELECT CDFILIAL, '" + till + "', printf('%06d', i), " +
           columns + " FROM " + table + ", n WHERE CDCAIXA = '001' AND NRSEQVENDA = '000123';";
  };
  return copy("VENDA", "DTVENDA, DTENTRVENDA, NRCPFLUMIREX, CDPROMOLUMIREX, VRDESCCASHORVO") +
         copy("ITEMVENDA",
              "NRSEQITEM, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRUNITVENDCL, VRDESITVEND, "
              "VRACRITVEND, VRRATTXSERV");
}

}  // namespace

void CreatePosDatabase(const std::filesystem::path& file) {
  CreateDatabase(file, TwentyItemSale());
}

void CreateTillDatabase(const std::filesystem::path& file, const std::string& till, int sales) {
  CreateDatabase(file, DemoSaleCopies(till, sales));
}

std::string PosConnectionString(const std::filesystem::path& file) {
  return "sqlite3://db=" + file.string() + " readonly=1";
}

}  // namespace lumirex::bench
