# The Windows build's dependencies: static libraries that windows/build_deps.sh
# built from Debian's source packages into the prefix LUMIREX_DEPS (found
# through the toolchain file's root path), and the MinGW-w64 system libraries.
find_package(Threads REQUIRED)
find_package(CURL CONFIG REQUIRED)
find_package(pugixml CONFIG REQUIRED)
find_package(SQLite3 REQUIRED)

# Header-only libraries copied into the prefix.
find_path(LUMIREX_HEADER_ONLY_DIR nlohmann/json.hpp REQUIRED)
foreach(target nlohmann_json::nlohmann_json CLI11::CLI11 PkgConfig::HTTPLIB)
  add_library(${target} INTERFACE IMPORTED)
  target_include_directories(${target} INTERFACE ${LUMIREX_HEADER_ONLY_DIR})
endforeach()
# cpp-httplib, whole in its header, serves the sandbox over Winsock.
target_link_libraries(PkgConfig::HTTPLIB INTERFACE ws2_32)

# ODBC is the system's driver manager; its installer library reads the data
# sources for the doctor.
add_library(PkgConfig::ODBC INTERFACE IMPORTED)
target_link_libraries(PkgConfig::ODBC INTERFACE odbc32)
add_library(PkgConfig::ODBCINST INTERFACE IMPORTED)
target_link_libraries(PkgConfig::ODBCINST INTERFACE odbccp32)

# SOCI's Windows libraries carry its ABI in their names, and its targets bring
# neither SQLite nor ODBC along.
find_path(SOCI_INCLUDE_DIR soci/soci.h REQUIRED)
find_library(SOCI_CORE_LIBRARY NAMES soci_core_4_0 soci_core REQUIRED)
find_library(SOCI_SQLITE3_LIBRARY NAMES soci_sqlite3_4_0 soci_sqlite3 REQUIRED)
find_library(SOCI_ODBC_LIBRARY NAMES soci_odbc_4_0 soci_odbc REQUIRED)
add_library(soci::soci INTERFACE IMPORTED)
target_include_directories(soci::soci INTERFACE ${SOCI_INCLUDE_DIR})
target_link_libraries(soci::soci INTERFACE ${SOCI_SQLITE3_LIBRARY} ${SOCI_ODBC_LIBRARY}
                      ${SOCI_CORE_LIBRARY} SQLite::SQLite3 odbc32)
