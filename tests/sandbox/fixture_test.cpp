// Fixtures: the built-in demo customers and the JSON an integrator writes.
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sandbox/sandbox.hpp"
#include "testkit/testkit.hpp"

namespace {

using lumirex::sandbox::LoadFixture;
using lumirex::sandbox::LoadFixtureFile;
using ::testing::HasSubstr;

TEST(Fixture, LoadsEveryFieldAndDefaultsTheOptionalOnes) {
  const auto fixture = LoadFixture(R"({"customers": [
    {"cpf": "1", "name": "Jos\u00e9", "balance": -5, "promocodes": [
      {"friendlyCode": "A", "description": "d", "gift": {"type": "cashback", "value": 250},
       "expiration_date": "2024-02-29T23:59:59"},
      {"friendlyCode": "B"}]},
    {"cpf": "2", "name": "Ana"}]})");
  ASSERT_EQ(fixture.customers.size(), 2u);
  const auto& jose = fixture.customers[0];
  EXPECT_EQ(jose.name, "Jos\xC3\xA9");
  EXPECT_EQ(jose.balanceCents, -5);
  ASSERT_EQ(jose.promocodes.size(), 2u);
  EXPECT_EQ(jose.promocodes[0].gift.type, "cashback");
  EXPECT_EQ(jose.promocodes[0].gift.cents, 250);
  EXPECT_EQ(jose.promocodes[0].expirationDate, "2024-02-29T23:59:59");
  EXPECT_EQ(jose.promocodes[1].description, "");
  EXPECT_EQ(jose.promocodes[1].gift.cents, 0);
  EXPECT_EQ(jose.promocodes[1].expirationDate, "");
  EXPECT_EQ(fixture.customers[1].balanceCents, 0);
  EXPECT_TRUE(fixture.customers[1].promocodes.empty());
}

TEST(Fixture, RefusalsSayWhatIsWrongAndWhere) {
  struct Case {
    const char* json;
    const char* message;
  };
  const Case cases[] = {
      {"", "not valid JSON"},
      {"{\"customers\": [", "not valid JSON"},
      {"[]", "document must be an object"},
      {"{}", "needs a \"customers\" list"},
      {"{\"customers\": [], \"extra\": 1}", "unknown key \"extra\""},
      {"{\"customers\": [1]}", "customers[0] must be an object"},
      {"{\"customers\": [{\"name\": \"A\"}]}", "customers[0] lacks \"cpf\""},
      {"{\"customers\": [{\"cpf\": \"\", \"name\": \"A\"}]}", "customers[0].cpf must not be empty"},
      {"{\"customers\": [{\"cpf\": \"1\"}]}", "customers[0] lacks \"name\""},
      {"{\"customers\": [{\"cpf\": \"1\", \"name\": \"A\", \"balance\": \"1250\"}]}",
       "customers[0].balance must be a whole number of cents"},
      {"{\"customers\": [{\"cpf\": \"1\", \"name\": \"A\", \"saldo\": 1}]}",
       "customers[0] has an unknown key \"saldo\""},
      {"{\"customers\": [{\"cpf\": \"1\", \"name\": \"A\"}, {\"cpf\": \"1\", \"name\": \"B\"}]}",
       "customers[1] repeats the cpf \"1\""},
      {"{\"customers\": [{\"cpf\": \"111.222\", \"name\": \"A\"}, {\"cpf\": \"111222\", "
       "\"name\": \"B\"}]}",
       "customers[1] repeats the cpf"},
      {"{\"customers\": [{\"cpf\": \"1\", \"name\": \"A\", \"promocodes\": {}}]}",
       "customers[0].promocodes must be a list"},
      {"{\"customers\": [{\"cpf\": \"1\", \"name\": \"A\", \"promocodes\": [{}]}]}",
       "customers[0].promocodes[0] lacks \"friendlyCode\""},
      {"{\"customers\": [{\"cpf\": \"1\", \"name\": \"A\", \"promocodes\": [{\"friendlyCode\": "
       "\"X\"}, {\"friendlyCode\": \"X\"}]}]}",
       "customers[0].promocodes[1] repeats the friendlyCode \"X\""},
      {"{\"customers\": [{\"cpf\": \"1\", \"name\": \"A\", \"promocodes\": [{\"friendlyCode\": "
       "\"X\", \"gift\": {\"value\": 1.5}}]}]}",
       "customers[0].promocodes[0].gift.value must be a whole number of cents"},
      {"{\"customers\": [{\"cpf\": \"1\", \"name\": \"A\", \"promocodes\": [{\"friendlyCode\": "
       "\"X\", \"expirationDate\": \"2030-01-01T00:00:00\"}]}]}",
       "unknown key \"expirationDate\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    try {
      LoadFixture(c.json);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.message));
      EXPECT_THAT(error.what(), ::testing::StartsWith("fixture: "));
    }
  }
}

TEST(Fixture, ExpirationDatesMustBeRealServiceDates) {
  for (const char* date :
       {"2024-02-30T10:00:00", "2023-02-29T10:00:00", "2024-13-01T00:00:00", "2024-00-10T00:00:00",
        "2024-03-05T24:00:00", "2024-03-05T23:60:00", "2024-03-05T23:59:60", "2024-03-05 14:07:09",
        "2024-03-05", "05/03/2024 14:07:09", "2024-03-0aT14:07:09", "2024-03-05T14:07:09Z"}) {
    SCOPED_TRACE(date);
    const std::string json =
        std::string(
            "{\"customers\": [{\"cpf\": \"1\", \"name\": \"A\", \"promocodes\": "
            "[{\"friendlyCode\": \"X\", \"expiration_date\": \"") +
        date + "\"}]}]}";
    try {
      LoadFixture(json);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_THAT(error.what(), HasSubstr("customers[0].promocodes[0].expiration_date must be"));
      EXPECT_THAT(error.what(), HasSubstr(date));
    }
  }
}

TEST(Fixture, FileErrorsNameTheFile) {
  testkit::TempDir dir;
  const auto missing = (dir.path() / "missing.json").string();
  EXPECT_THAT([&] { LoadFixtureFile(missing); },
              ::testing::ThrowsMessage<std::runtime_error>(HasSubstr(missing)));

  const auto broken = dir.path() / "broken.json";
  testkit::WriteFile(broken, "{\"customers\": [{}]}");
  EXPECT_THAT([&] { LoadFixtureFile(broken.string()); },
              ::testing::ThrowsMessage<std::runtime_error>(
                  HasSubstr(broken.string() + ": fixture: customers[0] lacks \"cpf\"")));

  const auto good = dir.path() / "good.json";
  testkit::WriteFile(good, "{\"customers\": [{\"cpf\": \"9\", \"name\": \"N\"}]}");
  EXPECT_EQ(LoadFixtureFile(good.string()).customers.at(0).cpf, "9");
}

TEST(Fixture, DefaultHasAccentedNamesAndAnExpiredCodeAmongLiveOnes) {
  const auto fixture = lumirex::sandbox::DefaultFixture();
  ASSERT_GE(fixture.customers.size(), 3u);
  EXPECT_EQ(fixture.customers[0].cpf, "12345678909");
  EXPECT_EQ(fixture.customers[0].name, "Jo\xC3\xA3o da Silva");
  std::size_t expired = 0, live = 0;
  for (const auto& customer : fixture.customers) {
    for (const auto& promocode : customer.promocodes) {
      (promocode.expirationDate != "" && promocode.expirationDate < "2025") ? ++expired : ++live;
    }
  }
  EXPECT_EQ(expired, 1u);
  EXPECT_GE(live, 3u);
}

}  // namespace
