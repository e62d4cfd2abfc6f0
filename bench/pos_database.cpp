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

}  // namespace

void CreatePosDatabase(const std::filesystem::path& file) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open(file.c_str(), &raw);
  std::unique_ptr<sqlite3, CloseDatabase> db(raw);
  if (opened != SQLITE_OK) throw std::runtime_error("cannot create " + file.string());
  const std::string script =
      "BEGIN;" + ReadSql("pos-schema.sql") + ReadSql("pos-demo.sql") + TwentyItemSale() + "COMMIT;";
  char* error = nullptr;
  if (sqlite3_exec(db.get(), script.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error("cannot fill " + file.string() + ": " + message);
  }
}

std::string PosConnectionString(const std::filesystem::path& file) {
  return "sqlite3://db=" + file.string() + " readonly=1";
}

}  // namespace lumirex::bench
