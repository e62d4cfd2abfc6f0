// The call through the C ABI: the host's memory is read within its bounds,
// never changed, and the result array is written only where the call says so.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

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
  const char* texts[] = {"CONSULTA", "http://svc", "123", "1", "2", "3"};
  for (int i = 0; i < 6; ++i) params.SetText(i, texts[i]);
  CArray result(5);
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
  params.SetText(1, "http://svc");
  EXPECT_FALSE(IntegracaoLumirex(&params[0], 5, nullptr));
  EXPECT_EQ(LogTexts().back(), "Exception IntegracaoLumirex: the result array is missing");
  EXPECT_TRUE(services_->calls.empty());
}

// A result array that cannot take the answer fails before anything is sent;
// a customer query's array that reaches index 1 is still asked, and the call
// says why it returned false.
TEST_F(CAbi, ResultArraysThatCannotTakeTheAnswer) {
  services_->answer = [](const HttpCall&) {
    return Answer(
        "<r><success>true</success><message>OK</message><userInfo><name>Ana</name></userInfo></r>");
  };
  struct Case {
    const char* operation;
    int32_t count;  // -1: an INT, not an array
    const char* message;
    bool sent;
  };
  for (const Case& c :
       {Case{"VENDA", -1, "the result is not an array", false},
        Case{"VENDA", 1, "the result array has 1 element; VENDA writes 2", false},
        Case{"CONSULTA", 0, "the result array has 0 elements; CONSULTA writes 5", false},
        Case{"CONSULTA", 2, "the result array has 2 elements; CONSULTA writes 5", true}}) {
    SCOPED_TRACE(std::string(c.operation) + " " + std::to_string(c.count));
    services_->calls.clear();
    CArray params(6);
    params.SetText(0, c.operation);
    params.SetText(1, "http://svc");
    CArray result(c.count < 0 ? 0 : c.count);
    if (c.count < 0) {
      LumirexVariantClear(result.get());
      result.get()->type = LUMIREX_INT;
      result.get()->value.integer = 42;
    }
    EXPECT_FALSE(IntegracaoLumirex(&params[0], 5, result.get()));
    LumirexCallOutcome outcome;
    char message[128];
    EXPECT_EQ(LumirexLastCall(&outcome, message, sizeof message), LUMIREX_E_INPUT);
    EXPECT_STREQ(message, c.message);
    EXPECT_EQ(outcome.sent, c.sent ? 1 : 0);
    EXPECT_EQ(services_->calls.size(), c.sent ? 1u : 0u);
    if (c.count < 0) {
      EXPECT_EQ(result.get()->type, LUMIREX_INT);
      EXPECT_EQ(result.get()->value.integer, 42);
    }
    if (c.sent) {
      // A false return writes nothing, not even what would fit; the reason
      // stands before FIM.
      EXPECT_EQ(result[0].type, LUMIREX_EMPTY);
      EXPECT_EQ(result[1].type, LUMIREX_EMPTY);
      const auto lines = LogTexts();
      EXPECT_EQ(lines[lines.size() - 2], std::string("Exception IntegracaoLumirex: ") + c.message);
      EXPECT_EQ(lines.back(), "FIM");
    }
  }
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

// Each thread reads the outcome of its own last call, whatever others did since.
TEST_F(CAbi, LastCallIsTheCallingThreadsOwn) {
  CArray failing(6);
  failing.SetText(0, "consulta");
  failing.SetText(1, "http://svc");
  CArray result(5);
  EXPECT_FALSE(IntegracaoLumirex(&failing[0], 5, result.get()));
  std::thread([] {
    CArray params(6);
    params.SetText(0, "CONSULTA");
    params.SetText(1, "http://svc");
    CArray answer(5);
    EXPECT_TRUE(IntegracaoLumirex(&params[0], 5, answer.get()));
    char message[8] = "x";
    EXPECT_EQ(LumirexLastCall(nullptr, message, sizeof message), LUMIREX_OK);
    EXPECT_STREQ(message, "");
  }).join();
  LumirexCallOutcome outcome;
  char shortBuffer[8];
  EXPECT_EQ(LumirexLastCall(&outcome, shortBuffer, sizeof shortBuffer), LUMIREX_E_INPUT);
  EXPECT_EQ(outcome.sent, 0);
  EXPECT_STREQ(shortBuffer, "unknown");  // cut to fit, NUL-terminated
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
