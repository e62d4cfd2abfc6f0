#include "integration/sale_queries.hpp"

namespace lumirex::sale_queries {

// The statements the point-of-sale back end has always run on SQL Server.
const char* const kHeaderTransactSql =
    "SELECT V.CDFILIAL, F.NMFILIAL, V.DTVENDA,\n"
    "       V.NRCPFLUMIREX, V.CDPROMOLUMIREX, ISNULL(V.VRDESCCASHORVO,0) AS VRDESCCASHORVO,\n"
    "       V.CDFILIAL+V.CDCAIXA+CONVERT(VARCHAR,V.DTENTRVENDA,103)+V.NRSEQVENDA AS IDVENDA,\n"
    "       SUM(ROUND(QTPRODVEND * (VRUNITVEND + ISNULL(VRUNITVENDCL,0)),2,1)) AS VRTOTPROD,\n"
    "       SUM(ISNULL(I.VRRATTXSERV,0)) AS VRACREVENDA, SUM(ISNULL(I.VRDESITVEND,0)) AS "
    "VRDESCVENDA,\n"
    "       SUM(ROUND(QTPRODVEND * (VRUNITVEND + ISNULL(VRUNITVENDCL,0)),2,1) - "
    "ISNULL(I.VRDESITVEND,0) + ISNULL(I.VRACRITVEND,0)) AS VRTOTVENDA\n"
    "  FROM VENDA V, ITEMVENDA I, FILIAL F\n"
    " WHERE V.CDFILIAL   = :P_CDFILIAL\n"
    "   AND V.CDCAIXA    = :P_CDCAIXA\n"
    "   AND V.NRSEQVENDA = :P_NRSEQVENDA\n"
    "   AND V.CDFILIAL   = F.CDFILIAL\n"
    "   AND V.CDFILIAL   = I.CDFILIAL\n"
    "   AND V.CDCAIXA    = I.CDCAIXA\n"
    "   AND V.NRSEQVENDA = I.NRSEQVENDA\n"
    "GROUP BY V.CDFILIAL, F.NMFILIAL, V.DTVENDA,\n"
    "         V.NRCPFLUMIREX, V.CDPROMOLUMIREX, ISNULL(V.VRDESCCASHORVO,0),\n"
    "         V.CDFILIAL+V.CDCAIXA+CONVERT(VARCHAR,V.DTENTRVENDA,103)+V.NRSEQVENDA";

const char* const kItemsTransactSql =
    "SELECT I.CDPRODUTO, P.CDARVPROD, P.NMPRODUTO, I.VRUNITVEND, SUM(QTPRODVEND) AS QTPRODVEND\n"
    "  FROM ITEMVENDA I, PRODUTO P\n"
    " WHERE I.CDFILIAL   = :P_CDFILIAL\n"
    "   AND I.CDCAIXA    = :P_CDCAIXA\n"
    "   AND I.NRSEQVENDA = :P_NRSEQVENDA\n"
    "   AND I.CDPRODUTO  = P.CDPRODUTO\n"
    "GROUP BY I.CDPRODUTO, P.CDARVPROD, P.NMPRODUTO, I.VRUNITVEND";

// The same statement for SQLite. SQL Server truncates the exact decimal
// product (ROUND(...,2,1)); SQLite multiplies binary doubles, where 1.15 * 1
// lands just below 1.15 and a plain cut would give 1.14. Rounding the product
// in cents to six decimals first removes that representation error, and the
// cast to INTEGER then cuts toward zero as SQL Server does (3 * 0.333 stays
// 0.99). Summing whole cents keeps the total exact. Only built-in functions
// are used, so the text runs through the SQLite ODBC driver as well.
const char* const kHeaderSqlite =
    "SELECT V.CDFILIAL, F.NMFILIAL, V.DTVENDA,\n"
    "       V.NRCPFLUMIREX, V.CDPROMOLUMIREX, IFNULL(V.VRDESCCASHORVO,0) AS VRDESCCASHORVO,\n"
    "       V.CDFILIAL||V.CDCAIXA||strftime('%d/%m/%Y',V.DTENTRVENDA)||V.NRSEQVENDA AS IDVENDA,\n"
    "       SUM(CAST(ROUND(QTPRODVEND * (VRUNITVEND + IFNULL(VRUNITVENDCL,0)) * 100, 6) AS "
    "INTEGER)) / 100.0 AS VRTOTPROD,\n"
    "       SUM(IFNULL(I.VRRATTXSERV,0)) AS VRACREVENDA, SUM(IFNULL(I.VRDESITVEND,0)) AS "
    "VRDESCVENDA,\n"
    "       SUM(CAST(ROUND(QTPRODVEND * (VRUNITVEND + IFNULL(VRUNITVENDCL,0)) * 100, 6) AS "
    "INTEGER) / 100.0 - IFNULL(I.VRDESITVEND,0) + IFNULL(I.VRACRITVEND,0)) AS VRTOTVENDA\n"
    "  FROM VENDA V, ITEMVENDA I, FILIAL F\n"
    " WHERE V.CDFILIAL   = :P_CDFILIAL\n"
    "   AND V.CDCAIXA    = :P_CDCAIXA\n"
    "   AND V.NRSEQVENDA = :P_NRSEQVENDA\n"
    "   AND V.CDFILIAL   = F.CDFILIAL\n"
    "   AND V.CDFILIAL   = I.CDFILIAL\n"
    "   AND V.CDCAIXA    = I.CDCAIXA\n"
    "   AND V.NRSEQVENDA = I.NRSEQVENDA\n"
    "GROUP BY V.CDFILIAL, F.NMFILIAL, V.DTVENDA,\n"
    "         V.NRCPFLUMIREX, V.CDPROMOLUMIREX, IFNULL(V.VRDESCCASHORVO,0),\n"
    "         V.CDFILIAL||V.CDCAIXA||strftime('%d/%m/%Y',V.DTENTRVENDA)||V.NRSEQVENDA";

// SQLite adds the quantities as binary doubles, and over a long sale their
// errors reach the digits the amount is written with (2861.13900000002 for
// 2861.139); rounding the sum to the quantity's three decimals gives the sum
// that SQL Server's exact arithmetic gives.
const char* const kItemsSqlite =
    "SELECT I.CDPRODUTO, P.CDARVPROD, P.NMPRODUTO, I.VRUNITVEND, ROUND(SUM(QTPRODVEND),3) AS "
    "QTPRODVEND\n"
    "  FROM ITEMVENDA I, PRODUTO P\n"
    " WHERE I.CDFILIAL   = :P_CDFILIAL\n"
    "   AND I.CDCAIXA    = :P_CDCAIXA\n"
    "   AND I.NRSEQVENDA = :P_NRSEQVENDA\n"
    "   AND I.CDPRODUTO  = P.CDPRODUTO\n"
    "GROUP BY I.CDPRODUTO, P.CDARVPROD, P.NMPRODUTO, I.VRUNITVEND";

// The same statement for PostgreSQL, whose NUMERIC arithmetic is exact as SQL
// Server's DECIMAL is: TRUNC(..., 2) cuts each line value toward zero (3 *
// 0.333 gives 0.99), to_char writes the entry day as dd/mm/yyyy, and NULLs
// read as 0 through COALESCE.
const char* const kHeaderPostgreSql =
    "SELECT V.CDFILIAL, F.NMFILIAL, V.DTVENDA,\n"
    "       V.NRCPFLUMIREX, V.CDPROMOLUMIREX, COALESCE(V.VRDESCCASHORVO,0) AS VRDESCCASHORVO,\n"
    "       V.CDFILIAL||V.CDCAIXA||to_char(V.DTENTRVENDA,'DD/MM/YYYY')||V.NRSEQVENDA AS IDVENDA,\n"
    "       SUM(TRUNC(QTPRODVEND * (VRUNITVEND + COALESCE(VRUNITVENDCL,0)),2)) AS VRTOTPROD,\n"
    "       SUM(COALESCE(I.VRRATTXSERV,0)) AS VRACREVENDA, SUM(COALESCE(I.VRDESITVEND,0)) AS "
    "VRDESCVENDA,\n"
    "       SUM(TRUNC(QTPRODVEND * (VRUNITVEND + COALESCE(VRUNITVENDCL,0)),2) - "
    "COALESCE(I.VRDESITVEND,0) + COALESCE(I.VRACRITVEND,0)) AS VRTOTVENDA\n"
    "  FROM VENDA V, ITEMVENDA I, FILIAL F\n"
    " WHERE V.CDFILIAL   = :P_CDFILIAL\n"
    "   AND V.CDCAIXA    = :P_CDCAIXA\n"
    "   AND V.NRSEQVENDA = :P_NRSEQVENDA\n"
    "   AND V.CDFILIAL   = F.CDFILIAL\n"
    "   AND V.CDFILIAL   = I.CDFILIAL\n"
    "   AND V.CDCAIXA    = I.CDCAIXA\n"
    "   AND V.NRSEQVENDA = I.NRSEQVENDA\n"
    "GROUP BY V.CDFILIAL, F.NMFILIAL, V.DTVENDA,\n"
    "         V.NRCPFLUMIREX, V.CDPROMOLUMIREX, COALESCE(V.VRDESCCASHORVO,0),\n"
    "         V.CDFILIAL||V.CDCAIXA||to_char(V.DTENTRVENDA,'DD/MM/YYYY')||V.NRSEQVENDA";

// The items statement uses nothing that PostgreSQL reads differently.
const char* const kItemsPostgreSql = kItemsTransactSql;

// Kept beside the statements, so that a column added to one is added here.
const std::vector<TableColumns> kColumnsRead = {
    {"VENDA",
     {"CDFILIAL", "CDCAIXA", "NRSEQVENDA", "DTVENDA", "DTENTRVENDA", "NRCPFLUMIREX",
      "CDPROMOLUMIREX", "VRDESCCASHORVO"}},
    {"ITEMVENDA",
     {"CDFILIAL", "CDCAIXA", "NRSEQVENDA", "CDPRODUTO", "QTPRODVEND", "VRUNITVEND", "VRUNITVENDCL",
      "VRDESITVEND", "VRACRITVEND", "VRRATTXSERV"}},
    {"FILIAL", {"CDFILIAL", "NMFILIAL"}},
    {"PRODUTO", {"CDPRODUTO", "CDARVPROD", "NMPRODUTO"}},
};

}  // namespace lumirex::sale_queries
