#include "database/connection.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <soci/soci.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "database/sqlite_database.hpp"
#include "support/errors.hpp"
#include "support/scoped_settings.hpp"
#include "testkit/testkit.hpp"

namespace lumirex {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

std::string NativeString(const std::filesystem::path& file) {
  return "sqlite3://db=" + file.string() + " readonly=1";
}

// The message of the DatabaseError that `action` raises.
template <typename Action>
std::string DatabaseMessage(Action action) {
  try {
    action();
  } catch (const DatabaseError& error) {
    return error.what();
  }
  ADD_FAILURE() << "no DatabaseError";
  return "";
}

std::string Tag(TADOConnection& connection) {
  std::string tag;
  connection.Session() << "SELECT TAG FROM WHICH", soci::into(tag);
  return tag;
}

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::RunSqlite(first_,
                       "CREATE TABLE WHICH (TAG TEXT); INSERT INTO WHICH VALUES ('first');");
    testing::RunSqlite(second_,
                       "CREATE TABLE WHICH (TAG TEXT); INSERT INTO WHICH VALUES ('second');");
  }

  testkit::TempDir dir_;
  std::filesystem::path first_ = dir_.path() / "first.sqlite";
  std::filesystem::path second_ = dir_.path() / "second.sqlite";
};

TEST_F(ConnectionTest, EveryOpeningRunsBothEventsOnceInOrderAndFetchesTheStringAnew) {
  TADOConnection connection;
  std::vector<std::string> events;
  std::vector<std::filesystem::path> targets = {first_, second_};
  connection.BeforeConnect = [&](TADOConnection& sender) {
    events.push_back("before");
    EXPECT_FALSE(sender.Connected());
    sender.ConnectionString = NativeString(targets[events.size() / 2]);
  };
  connection.AfterConnect = [&](TADOConnection& sender) {
    events.push_back("after");
    EXPECT_TRUE(sender.Connected());
  };

  connection.Open();
  connection.Open();  // already open: nothing runs
  EXPECT_THAT(events, ElementsAre("before", "after"));
  EXPECT_EQ(Tag(connection), "first");

  connection.Close();
  EXPECT_FALSE(connection.Connected());
  connection.Open();
  EXPECT_THAT(events, ElementsAre("before", "after", "before", "after"));
  EXPECT_EQ(Tag(connection), "second");
}

TEST_F(ConnectionTest, AFailingOpeningLeavesTheConnectionClosed) {
  struct Case {
    const char* what;
    bool beforeThrows;
    bool afterThrows;
    std::string connectionString;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"BeforeConnect raises", true, false, NativeString(first_), "no connection string today"},
      {"AfterConnect raises", false, true, NativeString(first_), "session refused"},
      {"database missing", false, false, NativeString(dir_.path() / "missing.sqlite"),
       "unable to open database file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TADOConnection connection;
    int afterRuns = 0;
    connection.BeforeConnect = [&](TADOConnection& sender) {
      if (c.beforeThrows) throw std::runtime_error(c.message);
      sender.ConnectionString = c.connectionString;
    };
    connection.AfterConnect = [&](TADOConnection&) {
      ++afterRuns;
      if (c.afterThrows) throw std::runtime_error(c.message);
    };
    EXPECT_THAT(DatabaseMessage([&] { connection.Open(); }), HasSubstr(c.message));
    EXPECT_FALSE(connection.Connected());
    EXPECT_EQ(afterRuns, c.afterThrows ? 1 : 0);
    EXPECT_FALSE(TryOpen(connection));
    EXPECT_FALSE(connection.Connected());
  }
  // A read-only opening never leaves an empty database behind.
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "missing.sqlite"));
}

TEST_F(ConnectionTest, TryOpenOpensAndRunsTheEvents) {
  TADOConnection connection;
  int afterRuns = 0;
  connection.BeforeConnect = [&](TADOConnection& sender) {
    sender.ConnectionString = NativeString(first_);
  };
  connection.AfterConnect = [&](TADOConnection&) { ++afterRuns; };
  EXPECT_TRUE(TryOpen(connection));
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(afterRuns, 1);
  EXPECT_EQ(connection.BackendName(), "sqlite3");
}

TEST(ConnectionStrings, OnlyTheTwoFormsAreAcceptedAndNoPasswordIsShown) {
  const std::vector<std::string> refused = {
      "",
      "DSN=pos;UID=till;PWD=secret",
      "mysql://db=pos user=till password=secret",
      "sqlite://db=/var/pos/pos.sqlite;PWD=secret",
      "Provider=SQLOLEDB;Data Source=pos;Password=secret",
  };
  for (const std::string& text : refused) {
    SCOPED_TRACE(text);
    TADOConnection connection;
    connection.ConnectionString = text;
    EXPECT_THAT(DatabaseMessage([&] { connection.Open(); }),
                AllOf(HasSubstr("sqlite3://"), HasSubstr("odbc://"), Not(HasSubstr("secret"))));
    EXPECT_FALSE(connection.Connected());
  }
}

TEST(ConnectionStrings, AFailedOdbcConnectionShowsNoPassword) {
  testing::OdbcDrivers::Register();
  TADOConnection connection;
  connection.ConnectionString = "odbc://DRIVER={No Such Driver};UID=till;PWD=secret";
  const std::string message = DatabaseMessage([&] { connection.Open(); });
  EXPECT_THAT(message,
              AllOf(HasSubstr("No Such Driver"), HasSubstr("PWD=***"), Not(HasSubstr("secret"))));
}

TEST(ConnectionSession, AClosedConnectionHasNoSession) {
  TADOConnection connection;
  EXPECT_THAT(DatabaseMessage([&] { connection.Session(); }), HasSubstr("not open"));
  EXPECT_THROW(PrepareReadOnlySession(connection), DatabaseError);
  EXPECT_EQ(connection.BackendName(), "");
}

// The session is read-only and runs the SQLite texts, whether SQLite is
// reached natively or through its ODBC driver.
class ReadOnlySessionTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    testing::RunSqlite(file_, "CREATE TABLE T (X TEXT); INSERT INTO T VALUES ('kept');");
  }

  std::string ConnectionString() const {
    return GetParam() ? testing::SqliteOdbcDriver::ConnectionString(file_)
                      : "sqlite3://db=" + file_.string();
  }

  testkit::TempDir dir_;
  std::filesystem::path file_ = dir_.path() / "pos.sqlite";
};

TEST_P(ReadOnlySessionTest, WritesFailAndTheDialectIsSqlite) {
  TADOConnection connection;
  connection.ConnectionString = ConnectionString();
  connection.AfterConnect = [](TADOConnection& sender) { PrepareReadOnlySession(sender); };
  connection.SetDialect(SqlDialect::TransactSql);
  connection.Open();
  EXPECT_EQ(connection.Dialect(), SqlDialect::Sqlite);
  EXPECT_EQ(connection.BackendName(), GetParam() ? "odbc" : "sqlite3");
  EXPECT_ANY_THROW(connection.Session() << "INSERT INTO T VALUES ('written')");
  EXPECT_ANY_THROW(connection.Session() << "CREATE TABLE U (Y TEXT)");

  int count = 0;
  connection.Session() << "SELECT COUNT(*) FROM T", soci::into(count);
  EXPECT_EQ(count, 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, ReadOnlySessionTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Odbc" : "Native"; });

// The library only reads the point-of-sale database: whatever the string
// says, SQLite opens it read-only and never creates a file, and an option
// SQLite would pass over in silence is refused by name.
TEST(SqliteConnectionStrings, ReadOnlyWhateverTheStringSaysAndOnlyKnownOptions) {
  testkit::TempDir dir;
  const auto existing = dir.path() / "pos.sqlite";
  testing::RunSqlite(existing, "CREATE TABLE T (X TEXT);");
  const auto missing = dir.path() / "missing.sqlite";
  struct Case {
    std::string options;
    const char* refusal;  // in the message; nullptr: opens, but writes fail
  };
  const Case cases[] = {
      {"db=" + missing.string(), "unable to open"},
      {"db=" + missing.string() + " readonly=0", "unable to open"},
      {missing.string(), "unable to open"},
      {"db=" + existing.string() + " readonly=0", nullptr},
      {"db=" + existing.string(), nullptr},
      {"db=" + existing.string() + " readonly=1 cache=shared", "'cache' is not known"},
      {"db=" + existing.string() + " Readonly=1", "'Readonly' is not known"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    TADOConnection connection;
    connection.ConnectionString = "sqlite3://" + c.options;
    if (c.refusal != nullptr) {
      EXPECT_THAT(DatabaseMessage([&] { connection.Open(); }), HasSubstr(c.refusal));
    } else {
      connection.Open();
      EXPECT_ANY_THROW(connection.Session() << "INSERT INTO T VALUES ('written')");
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
  }
}

// The default database lies under the base folder, whatever that is called.
TEST(SqliteConnectionStrings, DefaultDatabaseUnderAnyBaseFolder) {
  for (const char* name : {"till 1", "till \"1\"", "a\" b", "\"quoted\"", "back\\slash \""}) {
    SCOPED_TRACE(name);
    testkit::TempDir dir;
    const auto base = dir.path() / name;
    std::filesystem::create_directories(base / "Dados");
    testing::RunSqlite(base / "Dados" / "pos.sqlite",
                       "CREATE TABLE WHICH (TAG TEXT); INSERT INTO WHICH VALUES ('found');");
    testing::ScopedBaseDir scoped(base.string());
    TADOConnection connection;
    connection.ConnectionString = settings::ConnectionString();
    connection.Open();
    EXPECT_EQ(Tag(connection), "found");
  }
}

// A database server that takes the connection and never answers: the
// connection gives up within the time-out and says why.
TEST(OdbcConnectionStrings, SilentServerIsGivenUpAtTheLoginTimeout) {
  const std::filesystem::path driver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
  if (!std::filesystem::exists(driver)) GTEST_SKIP() << "no FreeTDS ODBC driver";
  // Listening, never accepting: the kernel completes the handshake and then
  // nothing more is ever said.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

  TADOConnection connection;
  connection.ConnectionString = "odbc://Driver=" + driver.string() + ";Server=127.0.0.1;Port=" +
                                std::to_string(ntohs(address.sin_port)) +
                                ";TDS_Version=7.4;UID=till;PWD=secret";
  const auto start = std::chrono::steady_clock::now();
  const std::string message = DatabaseMessage([&] { connection.Open(); });
  const auto took = std::chrono::steady_clock::now() - start;
  ::close(listener);
  EXPECT_THAT(message, HasSubstr("did not answer within 10 seconds"));
  EXPECT_LT(took, std::chrono::seconds(11));
}

}  // namespace
}  // namespace lumirex
