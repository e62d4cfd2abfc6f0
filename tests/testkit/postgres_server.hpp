// A throw-away PostgreSQL server for the tests that need a database server:
// its own cluster in a temporary folder, on a free port of 127.0.0.1, run by
// an unprivileged user when the tests run as root, stopped when destroyed.
// It neither uses nor disturbs a cluster the machine may run as a service.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "testkit/testkit.hpp"

namespace testkit {

// An ODBC driver's library where Debian installs it (/usr/lib/<multiarch>/odbc
// or /usr/lib/odbc); empty when it is not installed.
std::filesystem::path FindOdbcDriver(std::string_view file);

class PostgresServer {
 public:
  // Why this machine cannot run one (server or ODBC driver not installed, or
  // running as root with no "postgres" user to drop to); empty when it can.
  static std::string Unavailable();

  // Creates the cluster and starts the server; raises std::runtime_error
  // with the server's own words when either fails.
  PostgresServer();
  ~PostgresServer();  // stops it at once: nothing is kept
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Runs the statements (UTF-8) in the database, all or none; raises
  // std::runtime_error with psql's message when one fails.
  void Run(const std::string& statements) const;

  // For the "PostgreSQL Unicode" driver as the tests' odbcinst.ini names it.
  std::string OdbcConnectionString() const;

 private:
  // The command line run as the server's owner.
  std::string AsOwner(const std::string& command) const;
  void Start();

  TempDir dir_;
  std::filesystem::path bin_;
  int port_ = 0;
};

}  // namespace testkit
