// The texts of the two sale queries, in both dialects.
#pragma once

#include <string>

namespace lumirex::sale_queries {

extern const std::string kHeaderTransactSql;
extern const std::string kHeaderSqlite;
extern const std::string kItemsTransactSql;
extern const std::string kItemsSqlite;

}  // namespace lumirex::sale_queries
