// The texts of the two sale queries, in each dialect.
#pragma once

#include <string>
#include <vector>

namespace lumirex::sale_queries {

// Plain arrays: built with the program and never destroyed, so a call still
// running while the host exits reads them whole.
extern const char* const kHeaderTransactSql;
extern const char* const kHeaderSqlite;
extern const char* const kItemsTransactSql;
extern const char* const kItemsSqlite;
extern const char* const kHeaderPostgreSql;
extern const char* const kItemsPostgreSql;

// The columns the statements read, table by table: what a point-of-sale
// database must hold for a sale report to be built.
struct TableColumns {
  std::string table;
  std::vector<std::string> columns;
};
extern const std::vector<TableColumns> kColumnsRead;

}  // namespace lumirex::sale_queries
