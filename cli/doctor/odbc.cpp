// The ODBC side of an odbc:// connection: the driver and the client
// character set, read from the connection string and the driver manager's
// records (unixODBC's files; Windows' registry).
#ifdef _WIN32
#include <windows.h>  // before the ODBC headers, which use its types
#endif
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/doctor/checks.hpp"
#include "cli/doctor/connection_string.hpp"
#include "support/text.hpp"

namespace lumirex::cli::doctor {

namespace {

#ifdef _WIN32
constexpr const char* kInstallDriver =
    "install the driver (Microsoft's ODBC Driver for SQL Server, or a SQLite ODBC driver)";
constexpr const char* kRegisterDriver = "; ODBC Data Sources (odbcad32.exe) lists the drivers";
constexpr const char* kDataSources = "ODBC Data Sources (odbcad32.exe)";
#else
constexpr const char* kInstallDriver =
    "install the driver (Debian: tdsodbc for SQL Server, libsqliteodbc for SQLite)";
constexpr const char* kRegisterDriver =
    " or add a [DRIVER] section to /etc/odbcinst.ini; "
    "odbcinst -q -d lists the drivers";
constexpr const char* kDataSources = "/etc/odbc.ini or ~/.odbc.ini";
#endif

// A value of a data source's section in odbc.ini (user's, then system's).
std::optional<std::string> DataSourceValue(const std::string& dsn, const char* key) {
  std::array<char, 1024> value{};
  const int length = SQLGetPrivateProfileString(dsn.c_str(), key, "", value.data(),
                                                static_cast<int>(value.size()), "odbc.ini");
  if (length <= 0 || value[0] == '\0') return std::nullopt;
  return std::string(value.data());
}

struct EnvFree {
  void operator()(void* env) const { SQLFreeHandle(SQL_HANDLE_ENV, env); }
};

// The drivers registered with the driver manager (odbcinst.ini).
std::vector<std::string> RegisteredDrivers() {
  std::vector<std::string> drivers;
  SQLHENV raw = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw))) return drivers;
  std::unique_ptr<void, EnvFree> env(raw);
  SQLSetEnvAttr(raw, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  std::array<SQLCHAR, 256> name{};
  std::array<SQLCHAR, 1024> attributes{};
  SQLSMALLINT nameLength = 0;
  SQLSMALLINT attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDrivers(raw, direction, name.data(), name.size(), &nameLength,
                                  attributes.data(), attributes.size(), &attributesLength))) {
    drivers.emplace_back(reinterpret_cast<const char*>(name.data()));
    direction = SQL_FETCH_NEXT;
  }
  return drivers;
}

bool IsRegistered(const std::string& driver) {
  for (const auto& name : RegisteredDrivers()) {
    if (EqualsIgnoringCase(name, driver)) return true;
  }
  return false;
}

// A data source may name its driver by its registered name or by the path
// of its shared library.
CheckResult DriverCheck(const std::string& driver, const std::string& where) {
  if (driver.find('/') != std::string::npos) {
    std::error_code error;
    if (std::filesystem::exists(driver, error)) {
      return {"ODBC driver", true, driver + " (" + where + ") is there", ""};
    }
    return {"ODBC driver", false, driver + " (" + where + ") does not exist",
            std::string(kInstallDriver) + " or correct the path"};
  }
  if (IsRegistered(driver)) {
    return {"ODBC driver", true, driver + " (" + where + ") is registered", ""};
  }
  std::string fix = std::string(kInstallDriver) + kRegisterDriver;
  if (const auto at = fix.find("[DRIVER]"); at != std::string::npos) {
    fix.replace(at, 8, "[" + driver + "]");
  }
  return {"ODBC driver", false,
          driver + " (" + where + ") is not registered with the driver manager", fix};
}

bool IsWindows1252(const std::string& charset) {
  for (const char* name : {"CP1252", "WINDOWS-1252", "WINDOWS1252", "MS-ANSI"}) {
    if (EqualsIgnoringCase(charset, name)) return true;
  }
  return false;
}

CheckResult CharsetCheck(const std::optional<std::string>& charset, const std::string& where,
                         const std::string& driver, const Setting& database) {
  if (ContainsIgnoringCase(driver, "sqlite")) {
    return {"client character set", true,
            "not needed: SQLite's UTF-8 texts are converted when read", ""};
  }
  // The library sets every PostgreSQL session's client encoding to UTF-8 and
  // converts; a Windows-1252 one would only be overridden.
  if (ContainsIgnoringCase(driver, "psql") || ContainsIgnoringCase(driver, "postgres")) {
    return {"client character set", true,
            "not needed: the library sets the session's client encoding to UTF-8 and converts", ""};
  }
  if (charset && IsWindows1252(*charset)) {
    return {"client character set", true, *charset + " (" + where + ")", ""};
  }
  const std::string fix = "add ClientCharset=CP1252 to the data source's settings in " +
                          std::string(kDataSources) + ", or " +
                          database.Change("a connection string with ;ClientCharset=CP1252");
  if (charset) {
    return {"client character set", false,
            *charset + " (" + where + "): accented names would reach the service garbled", fix};
  }
  if (ContainsIgnoringCase(driver, "tds")) {
    return {"client character set", false,
            "not set: FreeTDS then hands texts over in its own default, not Windows-1252", fix};
  }
  return {"client character set", true,
          "not known for driver " + driver +
              ": it must hand texts over in the host encoding (Windows-1252 by default)",
          ""};
}

}  // namespace

Results CheckOdbc(const DoctorSettings& settings) {
  if (SchemeOf(settings.database.value) != DatabaseScheme::Odbc) {
    return {{"ODBC", true, "not used: the database is reached through SQLite directly", ""}};
  }
  const std::string attributes(AfterScheme(settings.database.value));
  const auto dsn = OdbcAttribute(attributes, "DSN");
  auto driver = OdbcAttribute(attributes, "DRIVER");
  std::string where = "in the connection string";
  auto charset = OdbcAttribute(attributes, "ClientCharset");
  std::string charsetWhere = where;
  if (!driver && dsn) {
    driver = DataSourceValue(*dsn, "Driver");
    where = "of data source " + *dsn;
    if (!driver) {
      return {{"ODBC data source", false, *dsn + " is not defined in odbc.ini",
               "add data source " + *dsn + " to " + kDataSources}};
    }
  }
  if (!charset && dsn) {
    charset = DataSourceValue(*dsn, "ClientCharset");
    charsetWhere = "of data source " + *dsn;
  }
  if (!driver) {
    return {{"ODBC driver", false, "the connection string names neither DRIVER= nor DSN=",
             settings.database.Change("odbc://DSN=NAME;... or odbc://DRIVER=NAME;...")}};
  }
  return {DriverCheck(*driver, where),
          CharsetCheck(charset, charsetWhere, *driver, settings.database)};
}

}  // namespace lumirex::cli::doctor
