// The texts of the two sale queries, in each dialect.
#pragma once

#include <string>
#include <vector>

namespace lumirex::sale_queries {

extern const std::string kHeaderTransactSql;
extern const std::string kHeaderSqlite;
extern const std::string kItemsTransactSql;
extern const std::string kItemsSqlite;
extern const std::string kHeaderPostgreSql;
extern const std::string kItemsPostgreSql;

// The columns the statements read, table by table: what a point-of-sale
// database must hold for a sale report to be built.
struct TableColumns {
  std::string table;
  std::vector<std::string> columns;
};
extern const std::vector<TableColumns> kColumnsRead;

}  // namespace lumirex::sale_queries
