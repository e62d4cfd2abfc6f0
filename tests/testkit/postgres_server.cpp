#include "testkit/postgres_server.hpp"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace testkit {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOwner = "postgres";  // whom root runs the server as
constexpr const char* kUser = "pos";        // the cluster's superuser
constexpr int kStartAttempts = 3;

bool IsRoot() {
  return geteuid() == 0;
}

// The newest installed server: /usr/lib/postgresql/<version>/bin.
fs::path ServerBin() {
  fs::path newest;
  int newestVersion = -1;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ignored)) {
    const fs::path bin = entry.path() / "bin";
    const int version = std::atoi(entry.path().filename().c_str());
    if (version > newestVersion && fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl")) {
      newest = bin;
      newestVersion = version;
    }
  }
  return newest;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char ch : text) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return quoted + "'";
}

// A port nobody listens on now; the server may still lose it to another
// process before it binds, so starting is retried.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  close(fd);
  if (!bound) throw std::runtime_error("no free port on 127.0.0.1");
  return ntohs(address.sin_port);
}

// Runs the command with its output in the log; the log's text when it fails.
void RunLogged(const std::string& command, const fs::path& log, const std::string& what) {
  if (std::system((command + " >" + Quoted(log.string()) + " 2>&1").c_str()) != 0) {
    std::string said;
    try {
      said = ReadFile(log);
    } catch (const std::exception&) {
    }
    throw std::runtime_error(what + " failed: " + said);
  }
}

}  // namespace

fs::path FindOdbcDriver(std::string_view file) {
  std::error_code ignored;
  if (fs::exists(fs::path("/usr/lib/odbc") / file, ignored))
    return fs::path("/usr/lib/odbc") / file;
  for (const auto& entry : fs::directory_iterator("/usr/lib", ignored)) {
    const fs::path candidate = entry.path() / "odbc" / file;
    if (fs::exists(candidate, ignored)) return candidate;
  }
  return {};
}

std::string PostgresServer::Unavailable() {
  if (ServerBin().empty()) {
    return "no PostgreSQL server in /usr/lib/postgresql (./dev setup installs postgresql)";
  }
  if (FindOdbcDriver("psqlodbcw.so").empty()) {
    return "no PostgreSQL ODBC driver psqlodbcw.so (./dev setup installs odbc-postgresql)";
  }
  if (IsRoot() &&
      (getpwnam(kOwner) == nullptr || std::system("command -v runuser >/dev/null") != 0)) {
    return "running as root, and no 'postgres' user or runuser to run the server as";
  }
  return {};
}

PostgresServer::PostgresServer() : bin_(ServerBin()) {
  if (IsRoot()) {
    // The server refuses to run as root; its owner needs the whole folder.
    const passwd* owner = getpwnam(kOwner);
    if (owner == nullptr || chown(dir_.path().c_str(), owner->pw_uid, owner->pw_gid) != 0) {
      throw std::runtime_error("cannot hand " + dir_.str() + " to the postgres user");
    }
  }
  RunLogged(AsOwner(Quoted((bin_ / "initdb").string()) + " -D " +
                    Quoted((dir_.path() / "data").string()) + " -A trust -U " + kUser +
                    " -E UTF8 --locale=C --no-sync"),
            dir_.path() / "initdb.log", "initdb");
  Start();
}

void PostgresServer::Start() {
  for (int attempt = 1;; ++attempt) {
    port_ = FreePort();
    // Durability is of no use to a database thrown away at the end.
    const std::string options = "-p " + std::to_string(port_) + " -k " + dir_.str() +
                                " -c listen_addresses=127.0.0.1 -c fsync=off"
                                " -c full_page_writes=off -c synchronous_commit=off";
    try {
      RunLogged(AsOwner(Quoted((bin_ / "pg_ctl").string()) + " -D " +
                        Quoted((dir_.path() / "data").string()) + " -l " +
                        Quoted((dir_.path() / "server.log").string()) + " -w -t 30 -o " +
                        Quoted(options) + " start"),
                dir_.path() / "pg_ctl.log", "starting PostgreSQL");
      return;
    } catch (const std::runtime_error& error) {
      if (attempt == kStartAttempts) {
        std::string log;
        try {
          log = ReadFile(dir_.path() / "server.log");
        } catch (const std::exception&) {
        }
        throw std::runtime_error(error.what() + std::string("\n") + log);
      }
    }
  }
}

PostgresServer::~PostgresServer() {
  (void)std::system((AsOwner(Quoted((bin_ / "pg_ctl").string()) + " -D " +
                             Quoted((dir_.path() / "data").string()) + " -m immediate stop") +
                     " >/dev/null 2>&1")
                        .c_str());
}

void PostgresServer::Run(const std::string& statements) const {
  const fs::path file = dir_.path() / "statements.sql";
  WriteFile(file, statements);
  RunLogged("PGCLIENTENCODING=UTF8 " + Quoted((bin_ / "psql").string()) +
                " -X -q -1 -v ON_ERROR_STOP=1 -h 127.0.0.1 -p " + std::to_string(port_) + " -U " +
                kUser + " -d postgres -f " + Quoted(file.string()),
            dir_.path() / "psql.log", "psql");
}

std::string PostgresServer::OdbcConnectionString() const {
  return "DRIVER={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port_) +
         ";Database=postgres;UID=" + kUser;
}

std::string PostgresServer::AsOwner(const std::string& command) const {
  return IsRoot() ? std::string("runuser -u ") + kOwner + " -- " + command : command;
}

}  // namespace testkit
