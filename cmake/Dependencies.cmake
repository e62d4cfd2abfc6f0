# Every dependency is a Debian package that ./dev setup installs.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(CURL REQUIRED)
find_package(pugixml REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(CLI11 REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)
find_package(OpenSSL REQUIRED)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
pkg_check_modules(ODBC REQUIRED IMPORTED_TARGET odbc)
# The driver manager's installer library: the doctor reads data sources from odbc.ini.
pkg_check_modules(ODBCINST REQUIRED IMPORTED_TARGET odbcinst)

# Debian ships SOCI without a CMake package; link the core and the two
# backends we register through their factories.
find_path(SOCI_INCLUDE_DIR soci/soci.h REQUIRED)
find_library(SOCI_CORE_LIBRARY soci_core REQUIRED)
find_library(SOCI_SQLITE3_LIBRARY soci_sqlite3 REQUIRED)
find_library(SOCI_ODBC_LIBRARY soci_odbc REQUIRED)
add_library(soci::soci INTERFACE IMPORTED)
target_include_directories(soci::soci INTERFACE ${SOCI_INCLUDE_DIR})
target_link_libraries(soci::soci INTERFACE ${SOCI_SQLITE3_LIBRARY} ${SOCI_ODBC_LIBRARY}
                      ${SOCI_CORE_LIBRARY} SQLite::SQLite3 PkgConfig::ODBC ${CMAKE_DL_LIBS})
