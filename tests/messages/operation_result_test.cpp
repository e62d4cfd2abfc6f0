#include "messages/operation_result.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "shared_services/shared_services.hpp"

namespace lumirex {
namespace {

// What a caller would have put in the result before the call.
Variant CallersArray(std::size_t count) {
  std::vector<Variant> items;
  for (std::size_t i = 0; i < count; ++i) items.emplace_back("caller's " + std::to_string(i));
  return Variant(std::move(items));
}

struct VerdictCase {
  const char* label;
  std::string response;
  bool errorFlag;
  std::string message;
};

class GetRetVenda : public testing::TestWithParam<VerdictCase> {};

TEST_P(GetRetVenda, WritesFlagAndMessageAndReturnsTrue) {
  Variant result = CallersArray(3);
  EXPECT_TRUE(getRetVenda(GetParam().response, result).asBool());
  EXPECT_EQ(result.items()[0], Variant(GetParam().errorFlag));
  EXPECT_EQ(result.items()[1], Variant(GetParam().message));
  EXPECT_EQ(result.items()[2], Variant("caller's 2"));
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, GetRetVenda,
    testing::Values(
        VerdictCase{"success", "<r><success>true</success><message>OK</message></r>", false, "OK"},
        VerdictCase{"capitalised", "<r><success>True</success></r>", true, ""},
        VerdictCase{"upper_case", "<r><success>TRUE</success></r>", true, ""},
        VerdictCase{"one", "<r><success>1</success></r>", true, ""},
        VerdictCase{"false", "<r><success>false</success><message>no</message></r>", true, "no"},
        VerdictCase{"blank_before", "<r><success> true</success></r>", true, ""},
        VerdictCase{"blank_after", "<r><success>true </success></r>", true, ""},
        VerdictCase{"empty_success", "<r><success/><message>m</message></r>", true, "m"},
        VerdictCase{"no_message", "<r><success>true</success></r>", false, ""},
        VerdictCase{"first_success_counts",
                    "<r><success>true</success><success>false</success></r>", false, ""},
        VerdictCase{"second_success_ignored",
                    "<r><success>false</success><success>true</success></r>", true, ""},
        VerdictCase{"any_root_name", "<order><success>true</success></order>", false, ""},
        VerdictCase{"utf8_message_to_cp1252",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><success>false</success>"
                    "<message>Cliente n\xC3\xA3o encontrado</message></r>",
                    true, "Cliente n\xE3o encontrado"},
        VerdictCase{"reference_then_decoded", "<r><success/><message>&#195;&#169;</message></r>",
                    true, "\xE9"},
        VerdictCase{"utf8_beyond_cp1252", "<r><success/><message>\xE4\xB8\xAD</message></r>", true,
                    "?"},
        VerdictCase{"entities_not_expanded",
                    "<!DOCTYPE r [<!ENTITY a \"AAAA\">]><r><success>true</success>"
                    "<message>&a;</message></r>",
                    false, "&a;"}),
    [](const testing::TestParamInfo<VerdictCase>& info) { return std::string(info.param.label); });

TEST(GetRetVendaFailure, ReadingFailuresLeaveBothElementsUnchanged) {
  const char* const failing[] = {
      "<r><success>true</success>",                              // not closed
      "<html><body>Error<br></body></html>",                     // an HTML error page
      "<r><success>true</success></r><r/>",                      // two roots
      "<r><success><b>true</b></success></r>",                   // elements inside success
      "<r><success>true</success><message>a<b/></message></r>",  // ... inside message
      // No verdict: nothing between till and service may pass for a refusal.
      "",
      " \r\n ",
      "<r><message>only</message></r>",
      "<r><x><success>true</success><message>deep</message></x></r>",
  };
  for (const char* response : failing) {
    Variant result = CallersArray(2);
    EXPECT_FALSE(getRetVenda(response, result).asBool()) << response;
    EXPECT_EQ(result, CallersArray(2)) << response;
  }
}

TEST(GetRetVendaFailure, ArrayReachingOnlyIndexZeroGetsTheFlagAndReturnsFalse) {
  Variant result = CallersArray(1);
  EXPECT_FALSE(getRetVenda("<r><success>true</success></r>", result).asBool());
  EXPECT_EQ(result.items()[0], Variant(false));
}

TEST(GetRetVendaFailure, ResultThatIsNotAnArrayReturnsFalse) {
  Variant result("not an array");
  EXPECT_FALSE(getRetVenda("<r><success>true</success></r>", result).asBool());
  EXPECT_EQ(result, Variant("not an array"));
}

// The answer is read the same whatever services a host installs: they stand
// in for the exchange and the database, not for the reading of a message.
TEST(GetRetVendaServices, ReadsTheSameWhateverServicesAreInstalled) {
  class HostServices : public SharedServices {
   public:
    HttpAnswer SendHttp(const HttpRequest&) override { return {}; }
    bool TryConnect(TADOConnection&) override { return false; }
    void SetADODBSession(TADOConnection&) override {}
    std::string GetStringConexVex(const std::string&) override { return ""; }
    void ShowMessage(const std::string&) noexcept override {}
  };
  auto previous = InstallServices(std::make_shared<HostServices>());
  Variant result = CallersArray(2);
  const bool read =
      getRetVenda("<r><success>true</success><message>a\xC3\xA7\xC3\xA3o</message></r>", result)
          .asBool();
  InstallServices(previous);
  EXPECT_TRUE(read);
  EXPECT_EQ(result.items()[0], Variant(false));
  EXPECT_EQ(result.items()[1], Variant("a\xE7\xE3o"));
}

}  // namespace
}  // namespace lumirex
