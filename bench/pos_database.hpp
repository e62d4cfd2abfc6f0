// The point-of-sale database the VENDA calls read: the project's SQLite schema
// and demo contents, plus one sale of twenty different products; and a till's
// database of many sales for the forwarding drill.
#pragma once

#include <filesystem>
#include <string>

namespace lumirex::bench {

// The key of the twenty-item sale.
inline constexpr const char* kSaleBranch = "0001";
inline constexpr const char* kSaleTill = "009";
inline constexpr const char* kSaleSequence = "000777";
inline constexpr int kSaleItems = 20;

// Creates the database file; raises std::runtime_error with SQLite's message.
void CreatePosDatabase(const std::filesystem::path& file);

// The demo database with `sales` copies of the demo sale of till 001 for
// `till` (three digits), sequences 000001 up: distinct orders for one till.
void CreateTillDatabase(const std::filesystem::path& file, const std::string& till, int sales);

// The library's connection string for the file, opened read-only.
std::string PosConnectionString(const std::filesystem::path& file);

}  // namespace lumirex::bench
