// The call through the C ABI: the host's memory is read within its bounds,
// never changed, and the result array is written only where the call says so.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "c_variants.hpp"
#include "call_fixture.hpp"
#include "lumirex/lumirex.h"

using lumirex::Variant;
using ::testing::HasSubstr;

namespace calltest {
namespace {

class CAbi : public CallTest {
 protected:
  void SetUp() override {
    CallTest::SetUp();
    services_->answer = [](const HttpCall&) {
      return Answer("<r><success>true</success><message>Venda registrada</message></r>");
    };
  }
};

TEST_F(CAbi, WritesTheAnswerIntoTheCallersArrayAndLeavesTheParametersAlone) {
  CArray params(6);
  const char* texts[] = {"VENDA_X", "svc", "123", "1", "2", "3"};
  for (int i = 0; i < 6; ++i) params.SetText(i, texts[i]);
  CArray result(2);
  result.SetText(1, "old message");

  EXPECT_TRUE(IntegracaoLumirex(&params[0], 5, result.get()));
  EXPECT_EQ(result[0].type, LUMIREX_BOOL);
  EXPECT_EQ(result[0].value.boolean, 0);
  EXPECT_EQ(result.Text(1), "Venda registrada");
  EXPECT_EQ(result[1].value.string.data[result[1].value.string.size], '\0');
  for (int i = 0; i < 6; ++i) EXPECT_EQ(params.Text(i), texts[i]);
}

TEST_F(CAbi, NullOrNegativeParametersAreAnEmptyList) {
  CArray result(2);
  EXPECT_FALSE(IntegracaoLumirex(nullptr, 5, result.get()));
  CArray params(6);
  EXPECT_FALSE(IntegracaoLumirex(&params[0], -7, result.get()));
  ASSERT_EQ(services_->messages.size(), 2u);
  EXPECT_THAT(services_->messages[1], HasSubstr("has 0 elements"));
  EXPECT_EQ(result[0].type, LUMIREX_EMPTY);
}

TEST_F(CAbi, NullResultFailsAfterItsFailureLine) {
  CArray params(6);
  params.SetText(0, "CONSULTA");
  EXPECT_FALSE(IntegracaoLumirex(&params[0], 5, nullptr));
  EXPECT_EQ(LogTexts().back(), "Exception IntegracaoLumirex: the result array is missing");
  EXPECT_TRUE(services_->calls.empty());
}

TEST_F(CAbi, ResultThatIsNotAnArrayMakesTheParserFailAndStaysAsItWas) {
  CArray params(6);
  params.SetText(0, "VENDA_X");
  LumirexVariant result;
  LumirexVariantInit(&result);
  result.type = LUMIREX_INT;
  result.value.integer = 42;
  EXPECT_FALSE(IntegracaoLumirex(&params[0], 5, &result));
  EXPECT_EQ(result.type, LUMIREX_INT);
  EXPECT_EQ(result.value.integer, 42);
  EXPECT_EQ(LogTexts().back(), "FIM");
}

TEST_F(CAbi, CustomerQueryIntoAnArrayTooShortWritesWhatFits) {
  services_->answer = [](const HttpCall&) {
    return Answer(
        "<r><success>true</success><message>OK</message><userInfo><name>Ana</name></userInfo></r>");
  };
  CArray params(6);
  params.SetText(0, "CONSULTA");
  CArray one(1);  // 0..0
  EXPECT_FALSE(IntegracaoLumirex(&params[0], 5, one.get()));
  EXPECT_EQ(one[0].type, LUMIREX_BOOL);
  EXPECT_EQ(one.size(), 1);
  CArray two(2);  // 0..1
  EXPECT_FALSE(IntegracaoLumirex(&params[0], 5, two.get()));
  EXPECT_EQ(two[0].type, LUMIREX_BOOL);
  EXPECT_EQ(two.Text(1), "OK");
  EXPECT_EQ(two.size(), 2);
}

TEST_F(CAbi, AnArrayWhereTextIsExpectedFailsTheCall) {
  CArray params(6);
  params.SetText(0, "CONSULTA");
  ASSERT_EQ(LumirexArrayCreate(&params[2], 1), 0);
  CArray result(5);
  EXPECT_FALSE(IntegracaoLumirex(&params[0], 5, result.get()));
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_TRUE(services_->calls.empty());
  EXPECT_EQ(result[0].type, LUMIREX_EMPTY);
}

// With NUL or a digit as the separator, 0.75 kg would go out as "075": only
// ',' and '.' are taken, and a refusal leaves the setting as it was.
TEST_F(CAbi, DecimalSeparatorIsACommaOrAPoint) {
  const std::pair<char, int> cases[] = {{'.', 0}, {'\0', 1}, {'0', 1},
                                        {';', 1}, {',', 0},  {' ', 1}};
  for (const auto& [separator, refused] : cases) {
    SCOPED_TRACE(static_cast<int>(separator));
    const char before = lumirex::DecimalSeparator();
    EXPECT_EQ(LumirexSetDecimalSeparator(separator) != 0, refused != 0);
    EXPECT_EQ(lumirex::DecimalSeparator(), refused ? before : separator);
  }
}

}  // namespace
}  // namespace calltest
