#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <soci/soci.h>

#include "database/connection.hpp"
#include "shared_services/default_services.hpp"
#include "shared_services/shared_services.hpp"
#include "support/settings.hpp"

namespace lumirex {
namespace {

// Answers every HTTP exchange with a canned body, as a test of the integration would.
class FakeServices : public SharedServices {
 public:
  HttpAnswer SendHttp(const HttpRequest&) override { return {200, "OK", "<fake/>"}; }
  bool TryConnect(TADOConnection&) override { return false; }
  void SetADODBSession(TADOConnection&) override {}
  std::string GetStringConexVex() override { return "fake"; }
  void ShowMessage(const std::string&) noexcept override {}
};

TEST(ServicesRegistry, InstallsAFakeAndRestoresTheDefault) {
  const std::shared_ptr<SharedServices> original = Services();
  ASSERT_NE(dynamic_cast<DefaultServices*>(original.get()), nullptr);

  auto fake = std::make_shared<FakeServices>();
  std::shared_ptr<SharedServices> previous = InstallServices(fake);
  EXPECT_EQ(previous, original);
  EXPECT_EQ(Services(), fake);
  EXPECT_EQ(Services()->GetStringConexVex(), "fake");

  // Services held by a caller outlive their replacement.
  const std::shared_ptr<SharedServices> held = Services();
  InstallServices(nullptr);
  EXPECT_EQ(held->GetStringConexVex(), "fake");

  // Putting back what was returned, and installing nothing, both give the default.
  InstallServices(fake);
  EXPECT_EQ(InstallServices(previous), fake);
  EXPECT_EQ(Services(), original);
}

TEST(DefaultServices, ConnectionStringComesFromTheSettings) {
  DefaultServices services;
  settings::SetConnectionString("odbc://DSN=caixa;UID=pdv");
  EXPECT_EQ(services.GetStringConexVex(), "odbc://DSN=caixa;UID=pdv");
  settings::SetConnectionString(std::nullopt);
  EXPECT_EQ(services.GetStringConexVex(), settings::ConnectionString());
}

TEST(DefaultServices, ShowMessageHandsTheTextToTheHandler) {
  std::vector<std::string> delivered;
  settings::SetMessageSink([&](const std::string& text) { delivered.push_back(text); });
  DefaultServices services;
  services.ShowMessage("Exception IntegracaoLumirex: falhou");
  settings::SetMessageSink(nullptr);
  EXPECT_EQ(delivered, std::vector<std::string>{"Exception IntegracaoLumirex: falhou"});
}

TEST(SharedServicesHelpers, IifPicksByTheCondition) {
  const Variant whenTrue("sim");
  const Variant whenFalse(std::int64_t{7});
  EXPECT_EQ(iif(true, whenTrue, whenFalse), whenTrue);
  EXPECT_EQ(iif(false, whenTrue, Variant::Null()), Variant::Null());
}

TEST(DefaultServices, ConnectsAndReadiesTheSessionForReadingOnly) {
  DefaultServices services;
  TADOConnection connection;
  connection.ConnectionString = "sqlite3://db=:memory:";
  ASSERT_TRUE(services.TryConnect(connection));
  services.SetADODBSession(connection);

  EXPECT_EQ(connection.Dialect(), SqlDialect::Sqlite);
  int queryOnly = 0;
  connection.Session() << "PRAGMA query_only", soci::into(queryOnly);
  EXPECT_EQ(queryOnly, 1);
}

TEST(DefaultServices, FailedConnectIsFalseNotAnError) {
  DefaultServices services;
  TADOConnection connection;
  connection.ConnectionString = "nowhere://pos";
  EXPECT_FALSE(services.TryConnect(connection));
  EXPECT_FALSE(connection.Connected());
}

}  // namespace
}  // namespace lumirex
